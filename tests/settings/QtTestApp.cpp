#include "QtTestApp.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

namespace kestlin::test {

namespace {

class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "kestlin_settings_dialog_tests";
        static char *argv[] = { name, nullptr };
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment *const environment
    = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

void WhenModal(std::function<void(QWidget *dialog)> action)
{
    QTimer::singleShot(0, [action = std::move(action)] {
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr) << "no modal dialog is open";
        QPointer<QWidget> guard = dialog;
        QTimer::singleShot(5000, [guard] {
            if (auto *d = qobject_cast<QDialog *>(guard.data()); d && d->isVisible()) {
                ADD_FAILURE() << "the dialog was still open; closed by the test";
                d->done(-1);
            }
        });
        action(dialog);
    });
}

} // namespace kestlin::test
