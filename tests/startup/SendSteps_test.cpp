// The steps of a submission that need neither the archive, the encryption nor
// the mail server, and the driver's checks before the first step.
#include "SendTestSupport.h"

#include "common/Display.h"
#include "common/cp932.h"
#include "startup/SendSteps.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestlin::test {
namespace {

namespace fs = std::filesystem;

const std::string kTitle = "石油動態報告メール送信";

class SendStepsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveErrLogs();
        ResetDocumentsFolder();
        fs::create_directories(temp);
        fs::create_directories(log);
        WriteSettings(temp, tempLog, log);
    }
    void TearDown() override { RemoveErrLogs(); }

    void WriteSettings(const std::string &tempValue, const std::string &tempLogValue,
                       const std::string &logValue)
    {
        WriteIniByHand(
            ini,
            { { "USER", { { "USERID", "U01" }, { "MAILADRESS", "reply@example.jp" } } },
              { "SYSTEM",
                { { "TEMP", tempValue }, { "TEMPLOG", tempLogValue }, { "LOG", logValue } } } });
    }
    std::string File(const std::string &relative, const std::string &bytes)
    {
        const std::string path = dir / relative;
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, bytes);
        return path;
    }

    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    const std::string temp = dir / "temp";
    const std::string tempLog = dir / "templog";
    const std::string log = dir / "log";
    RecordingDisplay display;
    PlainList list;
    SendPipeline pipeline { display, list, ini };
};

TEST_F(SendStepsTest, EmptyListIsRefusedBeforeAnythingIsMade)
{
    pipeline.cmdSend_Click();

    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "添付ファイルを指定してください。");
    EXPECT_EQ(display.messages[0].title, kTitle);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
    EXPECT_TRUE(ErrLogNames().empty());
    EXPECT_TRUE(FolderNames(temp).empty());
}

TEST_F(SendStepsTest, MissingListedFilesAreSelectedAndNothingIsMade)
{
    list = PlainList({ File("a/one.csv", "1"), File("b/two.csv", "2"), File("c/three.csv", "3") });
    list.selected = { true, false, true };
    fs::remove(dir / "b/two.csv");
    fs::remove(dir / "c/three.csv");
    fs::create_directories(dir / "c/three.csv"); // a folder is no file to send

    pipeline.cmdSend_Click();

    EXPECT_EQ(list.selected, (std::vector<bool> { false, true, true }));
    EXPECT_EQ(list.entries.size(), 3u);
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "存在しないﾌｧｲﾙが添付ﾌｧｲﾙとして指定されています。\r\n"
                                        "ﾘｽﾄで選択されているﾌｧｲﾙを確認してください。");
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
    EXPECT_TRUE(ErrLogNames().empty());
    EXPECT_TRUE(FolderNames(temp).empty());
}

TEST_F(SendStepsTest, MissingSettingsFileIsShownAndLoggedUnderItsName)
{
    list = PlainList({ File("a/one.csv", "1") });
    fs::remove(ini);

    pipeline.cmdSend_Click();

    const std::string message = "設定ファイルが存在しません。\r\n設定ファイルを確認してください。";
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, message);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(OnlyErrLog(), message + ",INIファイル存在エラー\r\n");
    EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
    EXPECT_TRUE(FolderNames(temp).empty());
}

TEST_F(SendStepsTest, WorkingFolderTakesTheFirstFreeNameOwnerOnly)
{
    std::string errText;
    bool ok = false;
    pipeline.FncCrtWorkSpace(errText, ok);
    ASSERT_TRUE(ok) << errText;
    EXPECT_EQ(pipeline.strWorkSpace, temp + "/WorkSpace");
    EXPECT_EQ(ModeOf(pipeline.strWorkSpace), 0700u);

    // A trailing separator on TEMP gives the same path; digits then go onto
    // the last candidate; an ordinary file takes a name as a folder does.
    WriteSettings(temp + "/", tempLog, log);
    fs::create_directories(temp + "/WorkSpace0");
    WriteFile(temp + "/WorkSpace01", "");
    pipeline.FncCrtWorkSpace(errText, ok);
    ASSERT_TRUE(ok) << errText;
    EXPECT_EQ(pipeline.strWorkSpace, temp + "/WorkSpace012");
    EXPECT_TRUE(fs::is_directory(temp + "/WorkSpace012"));
    EXPECT_TRUE(errText.empty());
}

TEST_F(SendStepsTest, MissingTempFolderFailsTheFirstStepAndDeletesNothing)
{
    list = PlainList({ File("a/one.csv", "1") });
    WriteSettings(dir / "no-such-folder", tempLog, log);
    // The folder of an earlier submission, still named by the member.
    const std::string earlier = dir / "earlier";
    fs::create_directories(earlier);
    pipeline.strWorkSpace = earlier;

    pipeline.cmdSend_Click();

    const std::string text
        = "作業ﾌｫﾙﾀﾞの指定に誤りがあります｡\r\n設定ﾌｧｲﾙの作業フォルダを確認してください。";
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, text);
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(OnlyErrLog(), text + ",FncCrtWorkSpace\r\n");
    EXPECT_TRUE(fs::is_directory(earlier));
    EXPECT_EQ(pipeline.strWorkSpace, "");
    EXPECT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(display.cursorChanges, (std::vector<bool> { true, false }));
}

TEST_F(SendStepsTest, CopiesNumberClashingNamesWithAndWithoutExtension)
{
    list = PlainList({ File("a/data.csv", "A"), File("b/data.csv", "B"), File("c/data.csv", "C"),
                       File("a/README", "R1"), File("b/README", "R2"), File("a/v.1.2", "V"),
                       File("b/報告書.xls", "J") });
    std::string errText;
    bool ok = false;
    ASSERT_TRUE(pipeline.Begin());
    pipeline.FncCrtWorkSpace(errText, ok);
    ASSERT_TRUE(ok) << errText;
    pipeline.FncMoveFile(errText, ok);
    ASSERT_TRUE(ok) << errText;

    const std::string copies = pipeline.strWorkSpace + "/Temp";
    EXPECT_EQ(FolderNames(copies),
              (std::vector<std::string> { "README", "README0", "data.csv", "data0.csv", "data1.csv",
                                          "v.1.2", "報告書.xls" }));
    EXPECT_EQ(ReadFile(copies + "/data0.csv"), "B");
    EXPECT_EQ(ReadFile(copies + "/data1.csv"), "C");
    EXPECT_EQ(ReadFile(copies + "/README0"), "R2");
}

TEST_F(SendStepsTest, NamesWindowsTakesForOneAreNumberedAndTheBodyFileNameIsTaken)
{
    list = PlainList({ File("a/Report.xls", "A"), File("b/report.XLS", "B"),
                       File("c/main_text.TXT", "M"), File("a/ＡＢＣ.csv", "W"),
                       File("b/ａｂｃ.csv", "w"), File("a/LPT.txt", "1"), File("b/LPT.txt", "2"),
                       File("c/LPT.txt", "3") });
    std::string errText;
    bool ok = false;
    ASSERT_TRUE(pipeline.Begin());
    pipeline.FncCrtWorkSpace(errText, ok);
    pipeline.FncMoveFile(errText, ok);
    ASSERT_TRUE(ok) << errText;

    // LPT1.txt to LPT9.txt would be devices on Windows: the numbering passes over them.
    const std::string copies = pipeline.strWorkSpace + "/Temp";
    EXPECT_EQ(FolderNames(copies),
              (std::vector<std::string> { "LPT.txt", "LPT0.txt", "LPT10.txt", "Report.xls",
                                          "main_text0.TXT", "report0.XLS", "ＡＢＣ.csv",
                                          "ａｂｃ0.csv" }));
    EXPECT_EQ(ReadFile(copies + "/report0.XLS"), "B");
    EXPECT_EQ(ReadFile(copies + "/LPT10.txt"), "3");
}

TEST_F(SendStepsTest, UnreadableListedFileFailsTheCopyStepWithTheSystemsReason)
{
    list = PlainList({ File("a/one.csv", "1"), File("a/two.csv", "2") });
    ::chmod((dir / "a/two.csv").c_str(), 0);
    ASSERT_TRUE(pipeline.Begin());
    std::string errText;
    bool ok = false;
    pipeline.FncCrtWorkSpace(errText, ok);
    ASSERT_TRUE(ok);
    {
        PermissionsEnforced enforced;
        pipeline.FncMoveFile(errText, ok);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(errText.empty());
    EXPECT_EQ(FolderNames(pipeline.strWorkSpace + "/Temp"),
              (std::vector<std::string> { "one.csv" }));
}

TEST_F(SendStepsTest, MailedFileNameIsMadeFromUserIdAndTimeStamp)
{
    pipeline.strSendFile = "TMPold.txt";
    std::string errText;
    bool ok = false;
    pipeline.FncFixFileName({ 2026, 3, 5, 4, 7, 9 }, errText, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(pipeline.strSendFile, "TMPU0120260305040709.txt");
}

class MoveLogTest : public SendStepsTest
{
protected:
    void SetUp() override
    {
        SendStepsTest::SetUp();
        TickingClock clock;
        pipeline.Clock(clock);
        workSpace = temp + "/WorkSpace";
        fs::create_directories(workSpace + "/Temp");
        WriteFile(workSpace + "/Temp/report.csv", "r");
        WriteFile(workSpace + "/Temp/MAIN_TEXT.txt", "body");
        ::chmod((workSpace + "/Temp/MAIN_TEXT.txt").c_str(), 0600);
        WriteFile(workSpace + "/TEMPU_FILE.cab", "cab");
        WriteFile(workSpace + "/TMPU0120260305140709.txt", "enc");
        pipeline.strWorkSpace = workSpace;
    }
    std::string workSpace;
    const std::string logFolder = tempLog + "/20260305_140709";
};

TEST_F(MoveLogTest, KeepsWhatWasPackedOwnerOnlyAndLeavesTheWorkingFolder)
{
    // An earlier copy of the same second, readable by all, is replaced.
    fs::create_directories(logFolder);
    WriteFile(logFolder + "/MAIN_TEXT.txt", "old");
    ::chmod((logFolder + "/MAIN_TEXT.txt").c_str(), 0644);

    std::string errText;
    bool ok = false;
    pipeline.FncMoveLog(errText, ok);

    ASSERT_TRUE(ok) << errText;
    EXPECT_EQ(FolderNames(tempLog), (std::vector<std::string> { "20260305_140709" }));
    EXPECT_EQ(FolderNames(logFolder), (std::vector<std::string> { "MAIN_TEXT.txt", "report.csv" }));
    EXPECT_EQ(ReadFile(logFolder + "/MAIN_TEXT.txt"), "body");
    EXPECT_EQ(ModeOf(logFolder + "/MAIN_TEXT.txt"), 0600u);
    // It goes once the submission log is written too.
    EXPECT_TRUE(fs::exists(workSpace));
}

TEST_F(MoveLogTest, ReadOnlyAttachmentLogFailsTheStepWithTheSystemsReason)
{
    fs::create_directories(tempLog);
    ::chmod(tempLog.c_str(), 0555);
    std::string errText;
    bool ok = false;
    {
        PermissionsEnforced enforced;
        pipeline.FncMoveLog(errText, ok);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(errText.empty());
    EXPECT_TRUE(fs::exists(workSpace + "/Temp/MAIN_TEXT.txt"));
}

TEST_F(MoveLogTest, MissingWorkingFolderFailsTheStep)
{
    WriteSettings(temp, dir / "no/such/templog", log);
    std::string errText;
    bool ok = false;
    pipeline.FncMoveLog(errText, ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(errText.empty()); // the parent of TEMPLOG is missing: one level only

    WriteSettings(temp, tempLog, log);
    fs::remove_all(workSpace);
    pipeline.FncMoveLog(errText = "", ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(errText, "指定されたパスが存在しません。");
    EXPECT_TRUE(fs::is_directory(tempLog)) << "created, one level";
}

class CrtLogFileTest : public SendStepsTest
{
protected:
    const DateTime stamp { 2026, 3, 5, 14, 7, 9 };
    const std::string message = SendPipeline::SuccessMessage(stamp);
    const std::string expected
        = "石油動態報告メッセージは、「2026年03月05日14時07分09秒」に送信されました。\r\n"
          "着信確認情報は、Ｅ－ＭＡＩＬで送信されてきます。Ｅ－ＭＡＩＬを確認してください。\r\n";
};

TEST_F(CrtLogFileTest, WritesTheMessageInCp932AndReplacesALogOfTheSameSecond)
{
    const std::string file = log + "/SEKIYU_REPORT/R_MESS20260305140709.txt";
    for (const std::string &logValue : { log, log + "/" }) {
        WriteSettings(temp, tempLog, logValue);
        if (fs::exists(file))
            WriteFile(file, "an earlier log of the same second, longer than the new one......");
        std::string errText;
        bool ok = false;
        pipeline.FncCrtLogFile(message, stamp, errText, ok);
        ASSERT_TRUE(ok) << errText;
        EXPECT_EQ(FolderNames(log + "/SEKIYU_REPORT"),
                  (std::vector<std::string> { "R_MESS20260305140709.txt" }));
        EXPECT_EQ(ReadFile(file), cp932::FromUtf8(expected));
    }
    EXPECT_TRUE(display.messages.empty());
}

TEST_F(CrtLogFileTest, MissingLogFolderFallsBackToTheDocumentsFolderAndSaysWhere)
{
    WriteSettings(temp, tempLog, dir / "no-such-log");
    std::string errText;
    bool ok = false;
    pipeline.FncCrtLogFile(message, stamp, errText, ok);

    ASSERT_TRUE(ok) << errText;
    const std::string report = DocumentsFolder() + "/SEKIYU_REPORT";
    EXPECT_EQ(ReadFile(report + "/R_MESS20260305140709.txt"), cp932::FromUtf8(expected));
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0].text, "ﾛｸﾞﾌｧｲﾙを出力するﾌｫﾙﾀﾞの指定に誤りがあります。\r\n"
                                        "設定ﾌｧｲﾙを確認してください。\r\n"
                                        "ﾛｸﾞﾌｧｲﾙは"
                                            + report + "に出力されました。");
    EXPECT_EQ(display.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(display.messages[0].title, kTitle);
    EXPECT_FALSE(fs::exists(dir / "no-such-log"));
}

TEST_F(CrtLogFileTest, LogFolderThatIsAFileFailsTheStep)
{
    WriteFile(dir / "log-file", "");
    WriteSettings(temp, tempLog, dir / "log-file");
    std::string errText;
    bool ok = false;
    pipeline.FncCrtLogFile(message, stamp, errText, ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(errText.empty());
    EXPECT_TRUE(display.messages.empty());
}

} // namespace
} // namespace kestlin::test
