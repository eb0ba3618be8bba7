// clsCab32 with the real libcab32.so: the pipeline's packing, then the same
// class extracting what it packed.
#include "packaging/clsCab32.h"
#include "platform/cab32/cabtools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestlin {
namespace {

using namespace test;

TEST(CabWithLibrary, PacksTheWorkingFolderAndExtractsItBeside)
{
    TempDir dir;
    const std::string work = dir / "Work Space 1"; // blanks stay inside the quotes
    const Tree tree = SampleTree();
    WriteTree(work + "/Temp", tree);

    clsCab32 pack;
    pack.OverWrite(true);
    pack.Silent(true);
    pack.InFile(work + "/Temp");
    pack.OutFile(work + "/TEMPU_FILE.cab");
    ASSERT_TRUE(pack.Cabcmp()) << pack.GetErrMsg();
    CommandResult checked = RunShell("cabextract -t " + ShellQuoted(work + "/TEMPU_FILE.cab"));
    EXPECT_EQ(checked.status, 0) << checked.output;

    // Now a valid archive: the same call extracts it into TEMPU_FILE/.
    clsCab32 unpack;
    unpack.InFile(work + "/TEMPU_FILE.cab");
    ASSERT_TRUE(unpack.Cabcmp()) << unpack.GetErrMsg();
    EXPECT_TRUE(SameTree(ReadTree(work + "/TEMPU_FILE"), tree));
}

TEST(CabWithLibrary, SingleFileIsPackedAloneBesideItself)
{
    TempDir work;
    WriteTree(work / "Temp",
              { { "報告.csv", "a,b\r\n" }, { "other.txt", "o" }, { "sub/報告.csv", "s" } });
    clsCab32 cab;
    cab.InFile(work / "Temp/報告.csv");
    ASSERT_TRUE(cab.Cabcmp()) << cab.GetErrMsg();
    // No OutFile: the archive takes the file's base name, in its folder.
    CommandResult extracted = RunShell("cabextract -q -e CP932 -d " + ShellQuoted(work / "x") + " "
                                       + ShellQuoted(work / "Temp/報告.cab"));
    ASSERT_EQ(extracted.status, 0) << extracted.output;
    EXPECT_TRUE(SameTree(ReadTree(work / "x"), { { "報告.csv", "a,b\r\n" } }));
}

TEST(CabWithLibrary, LibraryFailureComesBackAsItsCode)
{
    TempDir work;
    WriteTree(work / "Temp", { { "a.txt", "a" } });
    clsCab32 cab;
    cab.InFile(work / "Temp");
    cab.OutFile(work / "missing/TEMPU_FILE.cab");
    EXPECT_FALSE(cab.Cabcmp());
    // The library's own reason follows the code: a missing or full folder reads as one.
    EXPECT_TRUE(cab.GetErrMsg().starts_with("圧縮解凍処理にに失敗しました。Error Code:0x8007\r\n"));
    EXPECT_NE(cab.GetErrMsg().find("No such file or directory"), std::string::npos)
        << cab.GetErrMsg();

    clsCab32 lzx;
    lzx.MODE(2);
    lzx.InFile(work / "Temp");
    EXPECT_FALSE(lzx.Cabcmp());
    EXPECT_TRUE(lzx.GetErrMsg().starts_with("圧縮解凍処理にに失敗しました。Error Code:0x8003\r\n"));
    struct stat st
    {
    };
    EXPECT_NE(::stat((work / "Temp.cab").c_str(), &st), 0) << "no archive under a wrong method";
}

} // namespace
} // namespace kestlin
