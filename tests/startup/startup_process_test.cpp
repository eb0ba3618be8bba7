// The program's start-up as a process: copies of the program and of the test
// companion (which runs the same start-up but prints what it would show) in a
// folder of their own, with or without the libraries beside them.
#include "startup/KestlinStart.h"

#include "QtTestApp.h"
#include "common/Display.h"
#include "support/TempDir.h"

#include <QFile>
#include <QProcess>
#include <QThread>
#include <filesystem>

namespace kestlin {
namespace {

namespace fs = std::filesystem;

const char *const kLibraries[] = { "libbsmtp.so", "libcab32.so", "libcapicom.so" };

class StartupProcessTest : public ::testing::Test
{
protected:
    // The program folder: both programs, the settings file and the libraries not left out.
    void MakeProgramFolder(const std::vector<std::string> &leftOut = {})
    {
        const fs::path bin = KESTLIN_LIB_DIR;
        fs::copy_file(KESTLIN_PROGRAM, dir / "kestlin");
        fs::copy_file(KESTLIN_PROBE, dir / "kestlin_probe");
        for (const char *library : kLibraries) {
            if (std::find(leftOut.begin(), leftOut.end(), library) == leftOut.end())
                fs::copy_file(bin / library, dir / library);
        }
        test::WriteFile(dir / "Kestlin.INI", "[USER]\r\n");
    }

    // Without the build's library folder on the loader's path, so that only
    // the program folder and the system's own places are searched.
    static QProcessEnvironment Environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    // What the companion reports of a start, one line per message or window.
    QStringList ProbeStart()
    {
        QProcess probe;
        probe.setProcessEnvironment(Environment());
        probe.start(QString::fromStdString(dir / "kestlin_probe"), { QStringLiteral("start") });
        EXPECT_TRUE(probe.waitForFinished(30000));
        EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
        return QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    static QString Message(const char *title, MsgIcon icon, const char *text)
    {
        return QStringLiteral("MESSAGE\t%1\t%2\t%3")
            .arg(QString::fromUtf8(title))
            .arg(static_cast<int>(icon))
            .arg(QString::fromUtf8(text));
    }

    const QString kShown = QStringLiteral("SHOWN\t") + QString::fromUtf8(kAppTitle);
    test::TempDir dir;
};

TEST_F(StartupProcessTest, ShowsTheMainWindowWhenEverythingIsThere)
{
    MakeProgramFolder();
    EXPECT_EQ(ProbeStart(), QStringList { kShown });
}

TEST_F(StartupProcessTest, MissingLibraryIsReportedBeforeAnyWindow)
{
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        { { "libbsmtp.so" }, "BSMTP.DLLが見つかりません!!" },
        { { "libcab32.so", "libcapicom.so" }, "CAB32.DLLが見つかりません!!" },
    };
    for (const auto &[leftOut, text] : cases) {
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        MakeProgramFolder(leftOut);
        EXPECT_EQ(ProbeStart(), QStringList { Message("Error", MsgIcon::Critical, text) });
    }
}

TEST_F(StartupProcessTest, LibraryThatIsThereButUnusableIsNamedWithTheLoadersReason)
{
    // A library without the entry points asked for, then a file that is no library.
    MakeProgramFolder({ "libcab32.so" });
    fs::copy_file(dir / "libbsmtp.so", dir / "libcab32.so");
    const QString cab = QString::fromStdString(dir / "libcab32.so");
    const QString head = Message("Error", MsgIcon::Critical, "CAB32.DLLを読み込めません!!")
                         + "\\r\\n" + cab + "\\r\\n" + cab + ": ";
    EXPECT_EQ(ProbeStart(), QStringList { head + "undefined symbol: Cab" });
    test::WriteFile(dir / "libcab32.so", "not a library\n");
    const QStringList shown = ProbeStart();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith(head)) << shown[0].toStdString();
}

TEST_F(StartupProcessTest, SecondCopyIsRefusedAndACrashedOneBlocksNothing)
{
    MakeProgramFolder();
    const QString lockFile = QString::fromStdString(InstanceLock::LockFilePath(dir.path()));
    QFile::remove(lockFile);

    QProcess first;
    first.setProcessEnvironment(Environment());
    first.start(QString::fromStdString(dir / "kestlin"), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    for (int i = 0; i < 300 && !QFile::exists(lockFile); ++i)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(lockFile));

    EXPECT_EQ(ProbeStart(),
              QStringList { Message(kAppTitle, MsgIcon::Exclamation, "二重起動はできません。") });
    EXPECT_EQ(first.state(), QProcess::Running);

    // Killed without a chance to clean up, the first copy leaves its lock behind.
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(lockFile));
    EXPECT_EQ(ProbeStart(), QStringList { kShown });
    EXPECT_FALSE(QFile::exists(lockFile));
}

} // namespace
} // namespace kestlin
