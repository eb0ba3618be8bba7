#include "startup/basKestlin_01.h"

#include "support/RecordingDisplay.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kestlin {
namespace {

TEST(StartupVersion, ComparesPartByPartFromMajor)
{
    EXPECT_TRUE(FncCmpVersion({ 4, 0, 950, 0 }, { 4, 0, 950, 0 }));
    EXPECT_FALSE(FncCmpVersion({ 4, 0, 949, 9999 }, { 4, 0, 950, 0 }));
    EXPECT_TRUE(FncCmpVersion({ 4, 0, 950, 1 }, { 4, 0, 950, 0 }));
    EXPECT_TRUE(FncCmpVersion({ 5, 0, 0, 0 }, { 4, 0, 950, 0 }));
    EXPECT_TRUE(FncCmpVersion({ 4, 1, 0, 0 }, { 4, 0, 950, 0 }));
    EXPECT_FALSE(FncCmpVersion({ 3, 65535, 65535, 65535 }, { 4, 0, 950, 0 }));
    EXPECT_FALSE(FncCmpVersion({ 4, 0, 950, 0 }, { 4, 0, 950, 1 }));
}

TEST(StartupVersion, OlderSystemGetsTheTwoLineMessage)
{
    std::string msg;
    EXPECT_FALSE(FncChkVersion(msg, FileVersion { 4, 0, 949, 9999 }));
    EXPECT_EQ(msg, "ADVAPI32.DLLのﾊﾞｰｼﾞｮﾝが4.0.949.9999です。\r\n"
                   "ADVAPI32.DLLのﾊﾞｰｼﾞｮﾝが4.0.950.0より新しいﾊﾞｰｼﾞｮﾝを使用してください。");

    msg.clear();
    EXPECT_TRUE(FncChkVersion(msg, FileVersion { 4, 0, 950, 0 }));
    EXPECT_TRUE(FncChkVersion(msg, FileVersion { 6, 1, 0, 18 }));
    EXPECT_EQ(msg, "");
}

TEST(StartupVersion, UnreadableVersionFailsWithoutMessage)
{
    std::string msg;
    EXPECT_FALSE(FncChkVersion(msg, std::nullopt));
    EXPECT_EQ(msg, "");
}

TEST(StartupVersion, KernelReleaseGivesFourParts)
{
    auto text = [](const std::string &release) {
        auto version = ParseKernelRelease(release);
        return version ? VersionText(*version) : std::string("none");
    };
    EXPECT_EQ(text("6.1.0-18-amd64"), "6.1.0.18");
    EXPECT_EQ(text("5.15.133"), "5.15.133.0");
    EXPECT_EQ(text("6.8.0-rc3"), "6.8.0.0");
    EXPECT_EQ(text("4.0"), "4.0.0.0");
    EXPECT_EQ(text("4.19.0-amd64"), "4.19.0.0");
    EXPECT_EQ(text("6.1.999999"), "6.1.65535.0"); // held at the top, not wrapped
    EXPECT_EQ(text("linux"), "none");
    EXPECT_EQ(text(""), "none");
}

TEST(StartupVersion, RunningSystemIsReadAndAccepted)
{
    ASSERT_TRUE(RunningKernelVersion().has_value());
    std::string msg;
    EXPECT_TRUE(FncChkVersion(msg)) << msg;
}

struct MissingCase
{
    std::vector<std::string> missing;
    std::string shown;
};

TEST(StartupLibraries, OnlyTheFirstMissingOneIsReported)
{
    const MissingCase cases[] = {
        { { "libbsmtp.so" }, "BSMTP.DLLが見つかりません!!" },
        { { "libcab32.so" }, "CAB32.DLLが見つかりません!!" },
        { { "libcapicom.so" }, "CAPICOM.DLLが見つかりません!!" },
        { { "libcab32.so", "libcapicom.so" }, "CAB32.DLLが見つかりません!!" },
        { { "libbsmtp.so", "libcab32.so", "libcapicom.so" }, "BSMTP.DLLが見つかりません!!" },
    };
    for (const auto &c : cases) {
        test::RecordingDisplay display;
        std::vector<std::string> asked;
        bool found = FncChkDll(display, [&](const RequiredLibrary &library) {
            const std::string name = library.fileName;
            asked.push_back(name);
            const bool missing
                = std::find(c.missing.begin(), c.missing.end(), name) != c.missing.end();
            return LibraryProbe { missing ? LibraryProbe::State::Missing
                                          : LibraryProbe::State::Usable,
                                  name, "" };
        });
        EXPECT_FALSE(found);
        ASSERT_EQ(display.messages.size(), 1u) << c.shown;
        EXPECT_EQ(display.messages[0].text, c.shown);
        EXPECT_EQ(display.messages[0].title, "Error");
        EXPECT_EQ(display.messages[0].icon, MsgIcon::Critical);
        EXPECT_EQ(display.messages[0].buttons, MsgButtons::Ok);
        // Nothing after the first missing library is even looked for.
        EXPECT_EQ(asked.back(), c.missing.front());
    }
}

TEST(StartupLibraries, FailureOfTheSearchIsShownAsAWarning)
{
    test::RecordingDisplay display;
    EXPECT_FALSE(FncChkDll(display, [](const RequiredLibrary &) -> LibraryProbe {
        throw std::runtime_error("search failed");
    }));
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "search failed");
    EXPECT_EQ(display.messages[0].title, kAppTitle);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Exclamation);
}

TEST(StartupSettingsPath, RootFolderGetsNoDoubledSeparator)
{
    EXPECT_EQ(IniFilePathIn("/"), "/Kestlin.INI");
    EXPECT_EQ(IniFilePathIn("/opt/kestlin"), "/opt/kestlin/Kestlin.INI");
    EXPECT_EQ(IniFilePathIn("/opt/kestlin/"), "/opt/kestlin/Kestlin.INI");
}

} // namespace
} // namespace kestlin
