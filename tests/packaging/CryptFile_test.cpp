// File mode of clsCryptFile, checked against the openssl command.
#include "common/syserror.h"
#include "packaging/clsCryptFile.h"
#include "support/TempDir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace kestlin;
using kestlin::test::PermissionsEnforced;
using kestlin::test::ReadFile;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;

namespace {
constexpr char kMissingForEncrypt[] = "暗号化を行うファイルが存在しません。";
constexpr char kMissingForDecrypt[] = "複合化を行うファイルが存在しません。";
// The size of the buffer the files move through: inputs around it cross reads.
constexpr std::size_t kBuffer = 1002 * 1046;

std::string Capture(const std::string &command)
{
    std::string output;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char chunk[256];
        while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
            output.append(chunk, n);
        ::pclose(pipe);
    }
    return output;
}

// The provider's key for password bytes stored in a file, computed by the
// openssl command: the first 5 bytes of MD5, then 11 zero bytes.
std::string KeyHexForPasswordFile(const std::string &passwordFile)
{
    const std::string digest = Capture("openssl dgst -md5 -r '" + passwordFile + "'");
    EXPECT_GE(digest.size(), 32u) << "openssl dgst failed";
    return digest.substr(0, 10) + std::string(22, '0');
}

std::string KeyHex(const TempDir &dir, const std::string &passwordBytes)
{
    WriteFile(dir / "password.bin", passwordBytes);
    return KeyHexForPasswordFile(dir / "password.bin");
}

void OpensslRc4(const std::string &keyHex, const std::string &in, const std::string &out)
{
    const std::string command = "openssl enc -rc4 -K " + keyHex
                                + " -provider legacy -provider default -in '" + in + "' -out '"
                                + out + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string Pattern(std::size_t size, unsigned seed = 1)
{
    std::string bytes(size, '\0');
    for (auto &byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    return bytes;
}

struct Events
{
    std::vector<std::pair<int64_t, int64_t>> crypting;
    int crypted = 0;

    void Attach(clsCryptFile &crypt)
    {
        crypt.Crypting
            = [this](int64_t done, int64_t total) { crypting.emplace_back(done, total); };
        crypt.Crypted = [this] { ++crypted; };
    }
};

clsCryptFile Prepared(const std::string &in, const std::string &out,
                      const std::string &password = "Ruda")
{
    clsCryptFile crypt;
    crypt.InFile(in);
    crypt.OutFile(out);
    crypt.Password(password);
    return crypt;
}
} // namespace

TEST(CryptFile, EncryptsAsOpensslRc4UnderTheDerivedKeyAndDecryptsBack)
{
    TempDir dir;
    const std::string key = KeyHex(dir, "Ruda");
    for (std::size_t size :
         { 0ul, 1ul, 1001ul, 1002ul, 1003ul, 2004ul, kBuffer, 2 * kBuffer + 7 }) {
        SCOPED_TRACE(size);
        const std::string input = Pattern(size, static_cast<unsigned>(size));
        WriteFile(dir / "in.cab", input);
        auto crypt = Prepared(dir / "in.cab", dir / "out.txt");
        ASSERT_TRUE(crypt.Encrypt()) << crypt.GetErrMsg();
        OpensslRc4(key, dir / "in.cab", dir / "expected.txt");
        const std::string output = ReadFile(dir / "out.txt");
        EXPECT_EQ(output.size(), size);
        EXPECT_TRUE(output == ReadFile(dir / "expected.txt"));

        auto back = Prepared(dir / "out.txt", dir / "back.cab");
        ASSERT_TRUE(back.Decrypt(0)) << back.GetErrMsg();
        EXPECT_TRUE(ReadFile(dir / "back.cab") == input);
    }
}

TEST(CryptFile, HashesTheCp932BytesOfThePassword)
{
    TempDir dir;
    WriteFile(dir / "in.cab", Pattern(3000));
    auto crypt = Prepared(dir / "in.cab", dir / "out.txt", "石油");
    ASSERT_TRUE(crypt.Encrypt(0)) << crypt.GetErrMsg();
    OpensslRc4(KeyHex(dir, "\x90\xce\x96\xfb"), dir / "in.cab", dir / "expected.txt");
    EXPECT_TRUE(ReadFile(dir / "out.txt") == ReadFile(dir / "expected.txt"));
}

TEST(CryptFile, SamePasswordGivesSameOutputAndAWrongOneGarbageOfTheSameLength)
{
    TempDir dir;
    const std::string input = Pattern(5000);
    WriteFile(dir / "in.cab", input);
    auto first = Prepared(dir / "in.cab", dir / "one.txt");
    auto second = Prepared(dir / "in.cab", dir / "two.txt");
    ASSERT_TRUE(first.Encrypt());
    ASSERT_TRUE(second.Encrypt());
    EXPECT_TRUE(ReadFile(dir / "one.txt") == ReadFile(dir / "two.txt"));

    auto wrong = Prepared(dir / "one.txt", dir / "back.cab", "Rudb");
    ASSERT_TRUE(wrong.Decrypt());
    const std::string back = ReadFile(dir / "back.cab");
    EXPECT_EQ(back.size(), input.size());
    EXPECT_FALSE(back == input);
}

// Progress comes per block of 1002 bytes, whatever the reads underneath; an
// input of whole blocks ends with one more empty block.
TEST(CryptFile, ReportsEveryLogicalBlockAndEndsOnce)
{
    TempDir dir;
    for (std::size_t size : { 0ul, 1ul, 1002ul, 2005ul, kBuffer - 1, kBuffer, kBuffer + 1 }) {
        SCOPED_TRACE(size);
        WriteFile(dir / "in.cab", Pattern(size));
        auto crypt = Prepared(dir / "in.cab", dir / "out.txt");
        Events events;
        events.Attach(crypt);
        ASSERT_TRUE(crypt.Encrypt());

        const std::size_t blocks = size / 1002 + 1;
        ASSERT_EQ(events.crypting.size(), blocks);
        for (std::size_t i = 0; i < blocks; ++i) {
            const auto expected = static_cast<int64_t>(std::min((i + 1) * 1002, size));
            ASSERT_EQ(events.crypting[i].first, expected) << "block " << i;
            ASSERT_EQ(events.crypting[i].second, static_cast<int64_t>(size));
        }
        EXPECT_EQ(events.crypted, 1);
    }
}

TEST(CryptFile, MissingInputFailsWithTheStepMessageAndTouchesNothing)
{
    TempDir dir;
    WriteFile(dir / ".hidden.cab", "x");
    ::mkdir((dir / "folder.cab").c_str(), 0700);
    for (const char *name : { "missing.cab", ".hidden.cab", "folder.cab" }) {
        SCOPED_TRACE(name);
        WriteFile(dir / "out.txt", "kept");
        auto crypt = Prepared(dir / name, dir / "out.txt");
        Events events;
        events.Attach(crypt);
        EXPECT_FALSE(crypt.Encrypt());
        EXPECT_EQ(crypt.GetErrMsg(), kMissingForEncrypt);
        EXPECT_FALSE(crypt.Decrypt());
        EXPECT_EQ(crypt.GetErrMsg(), kMissingForDecrypt);
        EXPECT_TRUE(events.crypting.empty());
        EXPECT_EQ(events.crypted, 2);
        EXPECT_EQ(ReadFile(dir / "out.txt"), "kept");
    }
}

TEST(CryptFile, EmptyPasswordIsRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    WriteFile(dir / "in.cab", "data");
    auto crypt = Prepared(dir / "in.cab", dir / "out.txt", "");
    Events events;
    events.Attach(crypt);
    EXPECT_FALSE(crypt.Encrypt());
    EXPECT_NE(crypt.GetErrMsg().find("パスワード"), std::string::npos) << crypt.GetErrMsg();
    EXPECT_FALSE(crypt.Decrypt());
    EXPECT_EQ(::access((dir / "out.txt").c_str(), F_OK), -1);
    EXPECT_EQ(events.crypted, 2);
    EXPECT_TRUE(events.crypting.empty());
}

TEST(CryptFile, OtherModesDoNothingAtAll)
{
    TempDir dir;
    auto crypt = Prepared(dir / "missing.cab", dir / "out.txt");
    ASSERT_FALSE(crypt.Encrypt());
    Events events;
    events.Attach(crypt);
    crypt.InFile("ignored");
    EXPECT_FALSE(crypt.Encrypt(2));
    EXPECT_FALSE(crypt.Decrypt(-1));
    EXPECT_EQ(crypt.GetErrMsg(), kMissingForEncrypt);
    EXPECT_EQ(events.crypted, 0);
    EXPECT_EQ(crypt.OutFile(), dir / "out.txt");
}

TEST(CryptFile, AnEarlierFailureMessageOutlivesALaterSuccess)
{
    TempDir dir;
    WriteFile(dir / "in.cab", "data");
    auto crypt = Prepared(dir / "missing.cab", dir / "out.txt");
    ASSERT_FALSE(crypt.Encrypt());
    crypt.InFile(dir / "in.cab");
    ASSERT_TRUE(crypt.Encrypt());
    EXPECT_EQ(crypt.GetErrMsg(), kMissingForEncrypt);
}

// Failures that the file steps of old passed over as an empty input.
TEST(CryptFile, FileSystemFailuresAreReportedWithTheSystemsWords)
{
    TempDir dir;
    const std::string input = Pattern(4000);
    WriteFile(dir / "in.cab", input);
    WriteFile(dir / "locked.cab", input);
    WriteFile(dir / "readonly.txt", "kept");
    ::chmod((dir / "locked.cab").c_str(), 0);
    ::chmod((dir / "readonly.txt").c_str(), 0444);
    PermissionsEnforced enforced;

    auto unreadable = Prepared(dir / "locked.cab", dir / "out.txt");
    EXPECT_FALSE(unreadable.Encrypt());
    EXPECT_EQ(unreadable.GetErrMsg(), SystemErrorText(EACCES));

    auto readOnly = Prepared(dir / "in.cab", dir / "readonly.txt");
    EXPECT_FALSE(readOnly.Encrypt());
    EXPECT_EQ(readOnly.GetErrMsg(), SystemErrorText(EACCES));
    EXPECT_EQ(ReadFile(dir / "readonly.txt"), "kept");

    auto noFolder = Prepared(dir / "in.cab", dir / "gone/out.txt");
    EXPECT_FALSE(noFolder.Encrypt());
    EXPECT_EQ(noFolder.GetErrMsg(), SystemErrorText(ENOENT));

    ::mkfifo((dir / "pipe.txt").c_str(), 0600);
    auto intoPipe = Prepared(dir / "in.cab", dir / "pipe.txt");
    EXPECT_FALSE(intoPipe.Encrypt()) << "a pipe without a reader must not hang";
    EXPECT_EQ(intoPipe.GetErrMsg(), SystemErrorText(ENXIO));

    auto intoFolder = Prepared(dir / "in.cab", dir.path());
    EXPECT_FALSE(intoFolder.Encrypt());
    EXPECT_EQ(intoFolder.GetErrMsg(), SystemErrorText(EISDIR));
}

TEST(CryptFile, WritingOverTheInputIsRefusedAndTheInputKept)
{
    TempDir dir;
    const std::string input = Pattern(3000);
    WriteFile(dir / "in.cab", input);
    ::symlink((dir / "in.cab").c_str(), (dir / "alias.txt").c_str());
    ::link((dir / "in.cab").c_str(), (dir / "hardlink.txt").c_str());
    for (const char *name : { "in.cab", "alias.txt", "hardlink.txt" }) {
        SCOPED_TRACE(name);
        auto crypt = Prepared(dir / "in.cab", dir / name);
        EXPECT_FALSE(crypt.Encrypt());
        EXPECT_FALSE(crypt.GetErrMsg().empty());
        EXPECT_TRUE(ReadFile(dir / "in.cab") == input);
    }
}

namespace {
// A tiny file system of its own, so that the disk really runs full.
class SmallDisk
{
public:
    explicit SmallDisk(const std::string &path)
        : path_(path)
    {
        ::mkdir(path.c_str(), 0700);
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};
} // namespace

TEST(CryptFile, AFullDiskIsAFailureNotATruncatedSuccess)
{
    TempDir dir;
    SmallDisk disk(dir / "small");
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    WriteFile(dir / "in.cab", Pattern(256 * 1024));
    auto crypt = Prepared(dir / "in.cab", dir / "small/out.txt");
    Events events;
    events.Attach(crypt);
    EXPECT_FALSE(crypt.Encrypt());
    EXPECT_EQ(crypt.GetErrMsg(), SystemErrorText(ENOSPC));
    EXPECT_EQ(events.crypted, 1);
    EXPECT_TRUE(events.crypting.empty()) << "no block was written whole";
}

TEST(CryptFile, WithoutTheLegacyProviderTheReasonSaysSo)
{
    TempDir dir;
    WriteFile(dir / "in.cab", "data");
    const char *saved = std::getenv("OPENSSL_MODULES");
    const std::string previous = saved ? saved : "";
    ::setenv("OPENSSL_MODULES", (dir / "no-modules").c_str(), 1);
    auto crypt = Prepared(dir / "in.cab", dir / "out.txt");
    const bool ok = crypt.Encrypt();
    if (saved)
        ::setenv("OPENSSL_MODULES", previous.c_str(), 1);
    else
        ::unsetenv("OPENSSL_MODULES");

    EXPECT_FALSE(ok);
    EXPECT_NE(crypt.GetErrMsg().find("legacy"), std::string::npos) << crypt.GetErrMsg();
    EXPECT_EQ(::access((dir / "out.txt").c_str(), F_OK), -1);
}
