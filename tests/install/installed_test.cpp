// The Debian package made from this build, unpacked into a staging root as
// dpkg-deb -x does, and its program started from there (through the link in
// usr/bin) with a home and XDG base directories of its own. A stand-in user
// (standin_user.cpp) answers what the program shows.
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
        const QStringList debs
            = QDir(QStringLiteral(KESTLIN_DEB_DIR)).entryList({ QStringLiteral("kestlin_*.deb") });
        ASSERT_EQ(debs.size(), 1) << "one package in " << KESTLIN_DEB_DIR;
        const QString deb = QStringLiteral(KESTLIN_DEB_DIR "/") + debs.first();
        ASSERT_EQ(QProcess::execute(QStringLiteral("dpkg-deb"),
                                    { QStringLiteral("-x"), deb, QString::fromStdString(root) }),
                  0);
        fs::create_directory(dir / "home");
        installed = Tree(root);
    }

    // Every path under a folder with its kind, size and time of change.
    static std::map<std::string, std::string> Tree(const std::string &folder)
    {
        std::map<std::string, std::string> tree;
        for (const auto &entry : fs::recursive_directory_iterator(folder)) {
            struct stat st
            {
            };
            ::lstat(entry.path().c_str(), &st);
            tree[entry.path().string()]
                = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " "
                  + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        }
        return tree;
    }

    // What the stand-in user saw and did during one run of the installed program.
    QStringList Run()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Only the program folder can supply the three libraries.
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KESTLIN_STANDIN));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), QString::fromStdString(dir / "home"));
        for (const char *base : { "CONFIG", "DATA", "STATE" })
            env.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(base)),
                       QString::fromStdString(dir / base));
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

    // One line of the stand-in's output.
    static QString Line(std::initializer_list<std::string> parts)
    {
        QStringList texts;
        for (const std::string &part : parts)
            texts.append(QString::fromStdString(part));
        return texts.join('\t');
    }

    static std::string Shown(const QStringList &seen) { return seen.join('\n').toStdString(); }

    test::TempDir dir;
    const std::string root = dir / "root";
    std::map<std::string, std::string> installed;
};

TEST_F(InstalledProgram, FirstStartWritesOnlyIntoTheUsersOwnFolders)
{
    const QStringList seen = Run();
    const std::string work = dir / "DATA/kestlin";
    for (const QString &line : {
             Line({ "MESSAGE", "設定ファイルを作成しますか？" }),
             // The first-time values; the three libraries found; Qt in Japanese.
             Line({ "FIELD", "txtSTempLog", work }),
             Line({ "FIELD", "txtSTemp", work }),
             Line({ "FIELD", "txtMMailAdress", kReportMailbox }),
             Line({ "SHOWN", "石油動態報告メール送信" }),
             Line({ "MENU", "元に戻す(&U)" }),
             // The saved password read back from the user's settings file.
             Line({ "FIELD", "txtUPassWord", "pass-1234" }),
         })
        EXPECT_TRUE(seen.contains(line)) << line.toStdString() << "\n" << Shown(seen);
    EXPECT_EQ(seen.filter(QRegularExpression(QStringLiteral("^MESSAGE"))).size(), 1) << Shown(seen);

    EXPECT_TRUE(OrdinaryFileExists(dir / "CONFIG/kestlin/Kestlin.INI"));
    for (const char *folder : { "CONFIG/kestlin", "DATA/kestlin", "STATE/kestlin" }) {
        struct stat st
        {
        };
        EXPECT_EQ(::stat((dir / folder).c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_EQ(Tree(root), installed) << "nothing is written under the install prefix";
}

TEST_F(InstalledProgram, ReadsTheWindowsProgramsSettingsFileAsItIs)
{
    // Code page 932, CR LF, Windows folders, and the user password as the
    // Windows program stores it: the component's real output of the note on
    // the encrypted text (layout, iv, salt) with "hello world" under the
    // settings password.
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
    for (const QString &line : {
             Line({ "SHOWN", "石油動態報告メール送信" }),
             Line({ "FIELD", "txtUHoukoku", "石油動態報告" }),
             Line({ "FIELD", "txtUPassWord", "hello world" }),
             Line({ "FIELD", "txtMSubject", "【石油動態報告】" }),
         })
        EXPECT_TRUE(seen.contains(line)) << line.toStdString() << "\n" << Shown(seen);
    EXPECT_TRUE(seen.filter(QRegularExpression(QStringLiteral("^MESSAGE"))).isEmpty())
        << Shown(seen);
    EXPECT_EQ(test::ReadFile(dir / "CONFIG/kestlin/Kestlin.INI"), ini);
    EXPECT_EQ(Tree(root), installed);
}

} // namespace
} // namespace kestlin
