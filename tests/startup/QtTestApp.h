#pragma once
// One QApplication for all the window tests of a test program, with the look
// the program itself sets up.
#include "startup/Appearance.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace kestlin::test {

class QtAppEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "kestlin_tests";
        static char *argv[] = { name, nullptr };
        // Windows are never put on a real screen by the tests.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // As the program starts: Japanese shaping before the application exists.
        ShapeTextAsJapanese();
        app_ = std::make_unique<QApplication>(argc, argv);
        SetUpAppearance(*app_);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

inline const auto *const kQtAppEnvironment
    = ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

} // namespace kestlin::test
