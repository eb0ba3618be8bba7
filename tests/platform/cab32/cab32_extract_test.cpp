// Checking and extracting archives, ours, gcab's and hostile ones.
#include "cab32.h"
#include "cabtools.h"
#include "cabwriter.h"
#include "common/cp932.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin::test {
namespace {

std::string Q(const std::string &s)
{
    return "\"" + s + "\"";
}

int32_t RunCab(const std::string &line)
{
    return Cab(1, line.c_str(), nullptr, 0);
}

int32_t Extract(const std::string &cab, const std::string &destination,
                const std::string &switches = "")
{
    return RunCab("-x" + switches + " " + Q(cab) + " " + Q(destination + "/") + " *.*");
}

// An archive whose entries carry exactly the stored names given, as a
// hostile writer would make it.
void WriteRawArchive(const std::string &cab, const std::string &source,
                     const std::vector<std::pair<std::string, std::string>> &names)
{
    std::vector<cab32::Entry> entries;
    for (const auto &[stored, content] : names) {
        const std::string path = source + "/" + std::to_string(entries.size());
        WriteFile(path, content);
        cab32::Entry e;
        e.path = path;
        e.displayName = stored;
        e.storedName = stored;
        e.size = content.size();
        e.attributes = 0x20;
        entries.push_back(e);
    }
    int fd = ::open(cab.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    cab32::WriteResult result;
    cab32::Status s
        = cab32::WriteCabinet(entries, cab32::Method::Mszip, cab32::Limits {}, fd, result);
    ::close(fd);
    ASSERT_TRUE(s.ok()) << s.text;
}

uint32_t GetLE(const std::string &b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b.at(at + static_cast<size_t>(i)));
    return v;
}

void PutLE(std::string &b, size_t at, int bytes, uint32_t v)
{
    for (int i = 0; i < bytes; ++i, v >>= 8)
        b.at(at + static_cast<size_t>(i)) = static_cast<char>(v & 0xFF);
}

// Where the file entries of a cabinet without reserved fields begin.
std::vector<size_t> FileEntries(const std::string &cab)
{
    std::vector<size_t> at;
    size_t p = GetLE(cab, 16, 4);
    for (uint32_t i = GetLE(cab, 28, 2); i > 0; --i) {
        at.push_back(p);
        p = cab.find('\0', p + 16) + 1;
    }
    return at;
}

class CabRead : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteTree(dir_ / "in", SampleTree());
        cab_ = dir_ / "ours.cab";
        ASSERT_EQ(RunCab("-a -r " + Q(cab_) + " " + Q(dir_ / "in/") + " *.*"), 0);
    }
    TempDir dir_;
    std::string cab_;
};

TEST_F(CabRead, OnlyWholeCabinetsAreValid)
{
    const std::string bytes = ReadFile(cab_);
    EXPECT_EQ(CabCheckArchive(cab_.c_str(), CAB32_CHECK_HEADERS), 1);
    EXPECT_EQ(CabCheckArchive(cab_.c_str(), CAB32_CHECK_FULL), 1);

    WriteFile(dir_ / "empty.cab", "");
    WriteFile(dir_ / "text.cab", "MSCF is how it starts, but this is text\r\n");
    WriteFile(dir_ / "cut.cab", bytes.substr(0, bytes.size() - 100));
    WriteFile(dir_ / "header.cab", bytes.substr(0, 30));
    for (const char *name :
         { "in", "nothing.cab", "empty.cab", "text.cab", "cut.cab", "header.cab" })
        EXPECT_EQ(CabCheckArchive((dir_ / name).c_str(), CAB32_CHECK_HEADERS), 0) << name;
    EXPECT_EQ(CabCheckArchive(nullptr, 1), 0);

    // A damaged data block passes the header check but not the full one.
    std::string damaged = bytes;
    damaged[damaged.size() - 5000] ^= 0x55;
    WriteFile(dir_ / "damaged.cab", damaged);
    EXPECT_EQ(CabCheckArchive((dir_ / "damaged.cab").c_str(), CAB32_CHECK_HEADERS), 1);
    EXPECT_EQ(CabCheckArchive((dir_ / "damaged.cab").c_str(), CAB32_CHECK_FULL), 0);
    EXPECT_EQ(Extract(dir_ / "damaged.cab", dir_ / "d"), CAB32_E_DATA);
    EXPECT_EQ(Extract(dir_ / "cut.cab", dir_ / "c"), CAB32_E_NOTCAB);
}

TEST_F(CabRead, ExtractsByteForByteWithTimesAndRefusesToReplace)
{
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    const time_t stamp = 1709181958; // 2024-02-29 13:45:58 in Tokyo
    timespec times[2] = { { stamp, 0 }, { stamp, 0 } };
    ::utimensat(AT_FDCWD, (dir_ / "in/表.txt").c_str(), times, 0);
    ::chmod((dir_ / "in/MAIN_TEXT.txt").c_str(), 0444);
    ASSERT_EQ(RunCab("-a -r -o " + Q(cab_) + " " + Q(dir_ / "in/") + " *.*"), 0);

    ASSERT_EQ(Extract(cab_, dir_ / "out"), 0);
    EXPECT_TRUE(SameTree(ReadTree(dir_ / "out"), SampleTree()));
    struct stat st
    {
    };
    ASSERT_EQ(::stat((dir_ / "out/表.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, stamp);
    ASSERT_EQ(::stat((dir_ / "out/MAIN_TEXT.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only comes back";
    ::unsetenv("TZ");
    ::tzset();

    WriteTree(dir_ / "again", { { "空.txt", "mine" } });
    EXPECT_EQ(Extract(cab_, dir_ / "again"), CAB32_E_EXISTS);
    EXPECT_EQ(ReadTree(dir_ / "again"), (Tree { { "空.txt", "mine" } })) << "nothing written";
    EXPECT_EQ(Extract(cab_, dir_ / "again", " -o"), 0);
    EXPECT_TRUE(SameTree(ReadTree(dir_ / "again"), SampleTree()));
}

TEST_F(CabRead, ExtractsWhatGcabWrote)
{
    const Tree tree = SampleTree();
    std::string names;
    for (const auto &[name, content] : tree)
        names += " " + ShellQuoted(name);
    CommandResult made = RunShell("cd " + ShellQuoted(dir_ / "in") + " && gcab -c -z "
                                  + ShellQuoted(dir_ / "gcab.cab") + names);
    ASSERT_EQ(made.status, 0) << made.output;
    EXPECT_EQ(CabCheckArchive((dir_ / "gcab.cab").c_str(), CAB32_CHECK_FULL), 1);
    ASSERT_EQ(Extract(dir_ / "gcab.cab", dir_ / "out"), 0);
    EXPECT_TRUE(SameTree(ReadTree(dir_ / "out"), tree));
}

TEST(CabHostile, NamesLeadingOutsideRefuseTheWholeArchive)
{
    for (std::string bad :
         { "..\\evil.txt", "\\evil.txt", "/evil.txt", "C:\\evil.txt", "c:evil.txt",
           "ok\\..\\..\\evil.txt", "ok/../../evil.txt", "..", "ok\\.\\x", "" }) {
        TempDir dir;
        std::filesystem::create_directories(dir / "src");
        WriteRawArchive(dir / "h.cab", dir / "src", { { "good.txt", "fine" }, { bad, "evil" } });
        std::filesystem::create_directories(dir / "dest/inner");
        // libmspack itself refuses an empty name when reading the headers.
        EXPECT_EQ(Extract(dir / "h.cab", dir / "dest/inner"),
                  bad.empty() ? CAB32_E_NOTCAB : CAB32_E_BADNAME)
            << bad;
        EXPECT_TRUE(ReadTree(dir / "dest").empty()) << bad;
        struct stat st
        {
        };
        EXPECT_NE(::stat("/evil.txt", &st), 0);
    }
}

TEST(CabHostile, NothingIsWrittenThroughLinks)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    std::filesystem::create_directories(dir / "outside");
    std::filesystem::create_directories(dir / "dest");
    WriteFile(dir / "outside/f.txt", "untouched");
    ::symlink((dir / "outside").c_str(), (dir / "dest/link").c_str());
    ::symlink((dir / "outside/f.txt").c_str(), (dir / "dest/f.txt").c_str());

    WriteRawArchive(dir / "folder.cab", dir / "src", { { "link\\new.txt", "evil" } });
    EXPECT_EQ(Extract(dir / "folder.cab", dir / "dest", " -o"), CAB32_E_BADNAME);
    WriteRawArchive(dir / "file.cab", dir / "src", { { "f.txt", "evil" } });
    EXPECT_EQ(Extract(dir / "file.cab", dir / "dest", " -o"), CAB32_E_BADNAME);
    EXPECT_EQ(Extract(dir / "file.cab", dir / "dest"), CAB32_E_EXISTS);
    EXPECT_EQ(ReadTree(dir / "outside"), (Tree { { "f.txt", "untouched" } }));
}

TEST(CabHostile, Cp932NamesSplitOnlyAfterDecoding)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    // "ソ" is 0x83 0x5C: read as bytes, the 0x5C would be a folder separator.
    WriteRawArchive(dir / "n.cab", dir / "src",
                    { { cp932::FromUtf8("ソ\\能.txt"), "1" }, { "utf8\xE8\xA1\xA8.txt", "2" } });
    ASSERT_EQ(Extract(dir / "n.cab", dir / "out"), 0);
    // The second name has no UTF-8 attribute: its bytes are read as CP932.
    EXPECT_EQ(ReadTree(dir / "out"),
              (Tree { { "ソ/能.txt", "1" }, { cp932::ToUtf8("utf8\xE8\xA1\xA8.txt"), "2" } }));
}

TEST(CabHostile, FileRangesThatOverlapOrRunPastTheirFolderFailAtOnce)
{
    // Extracting every entry of the same 4 MiB would write 800 MiB; at the
    // format's limits such an archive of 250 KB kept the library busy for days.
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    std::vector<std::pair<std::string, std::string>> names { { "big.txt", ReportText(4 << 20) } };
    for (int i = 0; i < 200; ++i)
        names.emplace_back("f" + std::to_string(i), "x");
    WriteRawArchive(dir / "h.cab", dir / "src", names);
    const std::string valid = ReadFile(dir / "h.cab");
    std::string overlapping = valid;
    for (size_t at : FileEntries(overlapping)) {
        PutLE(overlapping, at, 4, 4 << 20);
        PutLE(overlapping, at + 4, 4, 0);
    }
    std::string beyond = valid;
    PutLE(beyond, FileEntries(beyond).back(), 4, 2); // one byte past the folder's data
    for (const auto &[bytes, why] : { std::pair { overlapping, "同じデータを指して" },
                                      std::pair { beyond, "フォルダのデータの外" } }) {
        WriteFile(dir / "bad.cab", bytes);
        EXPECT_EQ(CabCheckArchive((dir / "bad.cab").c_str(), CAB32_CHECK_HEADERS), 0);
        EXPECT_EQ(CabCheckArchive((dir / "bad.cab").c_str(), CAB32_CHECK_FULL), 0);
        char text[256] = "";
        const std::string line = "-x " + Q(dir / "bad.cab") + " " + Q(dir / "out/") + " *.*";
        EXPECT_EQ(Cab(1, line.c_str(), text, sizeof text), CAB32_E_DATA);
        EXPECT_NE(std::string(text).find(why), std::string::npos) << text;
        EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    }
}

TEST(CabHostile, EntriesListedAgainstTheOrderOfTheDataExtractRight)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    WriteRawArchive(dir / "r.cab", dir / "src",
                    { { "a.txt", ReportText(100000) }, { "b.txt", "bb" }, { "c.txt", "ccc" } });
    std::string bytes = ReadFile(dir / "r.cab");
    const std::vector<size_t> at = FileEntries(bytes);
    const std::string first = bytes.substr(at[0], at[1] - at[0]);
    bytes.replace(at[0], first.size(), bytes.substr(at[2], first.size())); // c, b, a
    bytes.replace(at[2], first.size(), first);
    WriteFile(dir / "r.cab", bytes);

    EXPECT_EQ(CabCheckArchive((dir / "r.cab").c_str(), CAB32_CHECK_FULL), 1);
    ASSERT_EQ(Extract(dir / "r.cab", dir / "out"), 0);
    EXPECT_EQ(ReadTree(dir / "out"),
              (Tree { { "a.txt", ReportText(100000) }, { "b.txt", "bb" }, { "c.txt", "ccc" } }));
}

TEST(CabHostile, WindowSizeOutOfRangeIsDamagedDataNotMemory)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    WriteRawArchive(dir / "w.cab", dir / "src", { { "a.txt", "a" } });
    const std::string valid = ReadFile(dir / "w.cab");
    // Method field of the one folder: LZX with 2^22 bytes, Quantum with 2^9.
    for (uint32_t method : { 0x1603u, 0x0902u, 0x0004u }) {
        std::string bytes = valid;
        PutLE(bytes, 36 + 6, 2, method);
        WriteFile(dir / "w.cab", bytes);
        EXPECT_EQ(CabCheckArchive((dir / "w.cab").c_str(), CAB32_CHECK_HEADERS), 0) << method;
        EXPECT_EQ(Extract(dir / "w.cab", dir / "out"), CAB32_E_DATA) << method;
    }
}

} // namespace
} // namespace kestlin::test
