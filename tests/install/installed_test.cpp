// The Debian package made from this build, unpacked into a staging root as
// dpkg-deb -x does, and its program started from there (through the link in
// usr/bin) with a home and XDG base directories of its own. A stand-in user
// (standin_user.cpp) answers what the program shows and prints what it saw.
#include "common/cp932.h"
#include "common/files.h"
#include "settings/ReportMailbox.h"
#include "support/TempDir.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace kestlin {
namespace {

namespace fs = std::filesystem;

class InstalledProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QStringList debs = QDir(KESTLIN_DEB_DIR).entryList({ "kestlin_*.deb" });
        ASSERT_EQ(debs.size(), 1) << KESTLIN_DEB_DIR;
        ASSERT_EQ(QProcess::execute("dpkg-deb", { "-x", KESTLIN_DEB_DIR "/" + debs.first(),
                                                  QString::fromStdString(root) }),
                  0);
        fs::create_directory(dir / "home");
        installed = Tree();
    }

    // Every path under the staging root with its mode, size and time of change.
    std::map<std::string, std::string> Tree() const
    {
        std::map<std::string, std::string> tree;
        for (const auto &entry : fs::recursive_directory_iterator(root)) {
            struct stat st
            {
            };
            ::lstat(entry.path().c_str(), &st);
            const long long changed = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
            tree[entry.path()] = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " "
                                 + std::to_string(changed);
        }
        return tree;
    }

    // One run of the installed program; one line of the stand-in's output per element.
    QStringList Run()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("LD_LIBRARY_PATH"); // only the program folder has the three libraries
        env.insert("LD_PRELOAD", KESTLIN_STANDIN);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", QString::fromStdString(dir / "home"));
        for (const char *base : { "CONFIG", "DATA", "STATE" })
            env.insert(QString("XDG_%1_HOME").arg(base), QString::fromStdString(dir / base));
        QProcess program;
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(QString::fromStdString(dir.path()));
        program.start(QString::fromStdString(root + "/usr/bin/kestlin"), {});
        EXPECT_TRUE(program.waitForFinished(60000)) << "still running";
        program.kill();
        program.waitForFinished();
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        return QString::fromUtf8(program.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    static void ExpectSeen(const QStringList &seen, const std::vector<std::string> &lines)
    {
        for (const std::string &line : lines)
            EXPECT_TRUE(seen.contains(QString::fromStdString(line)))
                << line << "\n"
                << seen.join('\n').toStdString();
    }

    test::TempDir dir;
    const std::string root = dir / "root";
    std::map<std::string, std::string> installed;
};

TEST_F(InstalledProgram, FirstStartWritesOnlyIntoTheUsersOwnFolders)
{
    const QStringList seen = Run();
    const std::string work = dir / "DATA/kestlin";
    ExpectSeen(seen,
               {
                   "MESSAGE\t設定ファイルを作成しますか？",
                   // The first-time values, then the three libraries found and Qt in Japanese.
                   "FIELD\ttxtSTempLog\t" + work,
                   "FIELD\ttxtSTemp\t" + work,
                   "FIELD\ttxtMMailAdress\t" + std::string(kReportMailbox),
                   "SHOWN\t石油動態報告メール送信",
                   "MENU\t元に戻す(&U)",
                   // The saved password, read back from the user's settings file.
                   "FIELD\ttxtUPassWord\tpass-1234",
               });
    EXPECT_EQ(seen.filter(QRegularExpression("^MESSAGE")).size(), 1) << "only the question";
    EXPECT_TRUE(OrdinaryFileExists(dir / "CONFIG/kestlin/Kestlin.INI"));
    for (const char *folder : { "CONFIG/kestlin", "DATA/kestlin", "STATE/kestlin" }) {
        struct stat st
        {
        };
        EXPECT_EQ(::stat((dir / folder).c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0700u)
            << folder;
    }
    EXPECT_EQ(Tree(), installed) << "nothing is written under the install prefix";
}

TEST_F(InstalledProgram, ReadsTheWindowsProgramsSettingsFileAsItIs)
{
    // Code page 932, CR LF, Windows folders, and the user password stored as
    // the Windows program stores it: the component's real message for "hello
    // world" (layout, iv, salt; see CryptText_test), under the settings password.
    const std::string ini = cp932::FromUtf8(
        "[USER]\r\nHOUKOKU=石油動態報告\r\nUSERID=U0001\r\n"
        "PASSWORD=MGEGCSsGAQQBgjdYA6BUMFIGCisGAQQBgjdYAwGgRDBCAgMCAAECAmYBAgFABAgqGpllWj9cswQQ"
        "h/fnBUZ6ijwKDTH9DLZmBgQYhcz1oQKQXYw5koiu1Yeuo9wvjKD5JOkC\r\n"
        "MAILADRESS=houkoku@example.co.jp\r\n"
        "[MAIL]\r\nSMTP=mail.example.co.jp\r\nPORT=25\r\nCERTIFY=0\r\nUSERID=\r\nPASSWORD=\r\n"
        "SUBJECT=【石油動態報告】\r\nMAILADRESS=report@example.go.jp\r\n"
        "[SYSTEM]\r\nLOG=C:\\Documents\r\nTEMPLOG=C:\\Kestlin\r\nTEMP=C:\\Kestlin\r\n");
    fs::create_directories(dir / "CONFIG/kestlin");
    test::WriteFile(dir / "CONFIG/kestlin/Kestlin.INI", ini);

    const QStringList seen = Run();
    ExpectSeen(seen,
               { "SHOWN\t石油動態報告メール送信", "FIELD\ttxtUHoukoku\t石油動態報告",
                 "FIELD\ttxtUPassWord\thello world", "FIELD\ttxtMSubject\t【石油動態報告】" });
    EXPECT_TRUE(seen.filter(QRegularExpression("^MESSAGE")).isEmpty());
    EXPECT_EQ(test::ReadFile(dir / "CONFIG/kestlin/Kestlin.INI"), ini);
    EXPECT_EQ(Tree(), installed);
}

} // namespace
} // namespace kestlin
