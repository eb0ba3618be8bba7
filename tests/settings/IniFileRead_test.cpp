#include "common/cp932.h"
#include "settings/clsIniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace kestlin;
using kestlin::test::ReadFile;
using kestlin::test::TempDir;
using kestlin::test::WriteFile;

namespace {

std::string Sjis(const std::string &utf8)
{
    return cp932::FromUtf8(utf8);
}

class IniRead : public ::testing::Test
{
protected:
    std::string Read(const std::string &bytes, const std::string &section, const std::string &key,
                     int16_t mode = 0)
    {
        WriteFile(path, bytes);
        return clsIniFile().GetValue(path, section, key, mode);
    }

    TempDir dir;
    const std::string path = dir / "Kestlin.INI";
};

struct Case
{
    const char *why;
    std::string file;
    std::string section;
    std::string key;
    std::string expected;
};

TEST_F(IniRead, FollowsTheProfileRulesForNamesBlanksAndQuotes)
{
    const std::string nul("v\0w", 3);
    const Case cases[] = {
        { "plain", "[USER]\r\nHOUKOKU=" + Sjis("石油動態報告") + "\r\n", "USER", "HOUKOKU",
          "石油動態報告" },
        { "case of A-Z ignored", "[user]\r\nHouKoku=x\r\n", "USER", "HOUKOKU", "x" },
        { "full-width letters keep their case", Sjis("[ａ]\r\nk=x\r\n"), "Ａ", "k", "" },
        { "second byte 0x41 is not the letter A", Sjis("[A]\r\nア=x\r\n"), "A", "ヂ", "" },
        { "blanks around key and value", "[A]\r\n \t k \t=  a  b \t\x1a\r\n", "A", "k", "a  b" },
        { "ideographic space is not a blank", Sjis("[A]\r\nk=　x　\r\n"), "A", "k", "　x　" },
        { "blanks around the names asked for", "[A]\r\nk=x\r\n", " A ", "\tk ", "x" },
        { "double quotes", "[A]\r\nk=\"abc\"\r\n", "A", "k", "abc" },
        { "single quotes", "[A]\r\nk='abc'\r\n", "A", "k", "abc" },
        { "one pair only", "[A]\r\nk=\"a\"b\"\r\n", "A", "k", "a\"b" },
        { "blanks inside quotes stay", "[A]\r\nk=\" a b \"  \r\n", "A", "k", " a b " },
        { "unmatched quote stays", "[A]\r\nk=\"abc'\r\n", "A", "k", "\"abc'" },
        { "lone quote stays", "[A]\r\nk=\"\r\n", "A", "k", "\"" },
        { "first key wins", "[A]\r\nk=1\r\nK=2\r\n", "A", "k", "1" },
        { "only the first section of a name", "[A]\r\nx=1\r\n[a]\r\nk=2\r\n", "A", "k", "" },
        { "a key without = hides a later one", "[A]\r\nk\r\nk=v\r\n", "A", "k", "" },
        { "header without ] is no header", "[B]\r\nk=b\r\n[A\r\nk=x\r\n", "A", "k", "" },
        { "... and does not end the section", "[B]\r\nk=b\r\n[A\r\nk=x\r\n", "B", "k", "b" },
        { "name runs to the last ]", "[A]]\r\nk=no\r\n[A]\r\nk=ok\r\n", "A", "k", "ok" },
        { "text after ] ignored", "[A] ; note\r\nk=ok\r\n", "A", "k", "ok" },
        { "blanks inside brackets", " [ A ] \r\nk=ok\r\n", "A", "k", "ok" },
        { "keys before any section", "k=x\r\n[A]\r\n", "A", "k", "" },
        { "value holds =", "[A]\r\nk=a=b\r\n", "A", "k", "a=b" },
        { "LF only", "[A]\nx=1\nk=lf\n", "A", "k", "lf" },
        { "CR only", "[A]\rx=1\rk=cr\r", "A", "k", "cr" },
        { "no final line end", "[A]\r\nk=end", "A", "k", "end" },
        { "UTF-8 with byte-order mark", "\xEF\xBB\xBF[A]\r\nk=石油\r\n", "A", "k", "石油" },
        { "NUL ends a value", "[A]\r\nk=" + nul + "\r\n", "A", "k", "v" },
        { "NUL ends a key", std::string("[A]\r\nk\0z=nul\r\n", 15), "A", "k", "nul" },
        { "empty key asked", "[A]\r\n=x\r\n", "A", "", "" },
        { "missing section", "[A]\r\nk=x\r\n", "B", "k", "" },
        { "missing key", "[A]\r\nk=x\r\n", "A", "j", "" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Read(c.file, c.section, c.key), c.expected) << c.why;
}

TEST_F(IniRead, DoubleByteCharactersEndingInBracketsBackslashOrEqualsAreWholeCharacters)
{
    // ソ 表 end in 0x5C "\", ゾ in 0x5D "]".
    const std::string file = Sjis("[A]ゾ\r\nソ表=ゾ]=表\\\r\n[ゾ]\r\nk=ソ\r\n[ソ]\r\nk=1\r\n");
    EXPECT_EQ(Read(file, "A", "ソ表"), "ゾ]=表\\");
    EXPECT_EQ(Read(file, "ゾ", "k"), "ソ");
    EXPECT_EQ(Read(file, "ソ", "k"), "1");
    EXPECT_EQ(Read(file, "ソ表", "k"), "");
}

TEST_F(IniRead, ModeOneReadsTheLeadingNumber)
{
    const std::pair<std::string, std::string> cases[] = {
        { "3", "3" },
        { "42abc", "42" },
        { "+7", "7" },
        { "-5", "-5" },
        { "- 5", "0" },
        { "+-5", "0" },
        { "abc", "0" },
        { "", "0" },
        { "\"12\"", "12" },
        { "\" 12\"", "12" },
        { "3.9", "3" },
        { "12 34", "12" },
        { "0x10", "16" },
        { "0X10", "0" },
        { "-0x10", "-16" },
        { "0o17", "15" },
        { "0b101", "5" },
        { "0b2", "0" },
        { "010", "10" },
        { "4294967297", "1" },
        { "2147483648", "-2147483648" },
        { "-4294967297", "-1" },
        { "42A94967297", "42" },
        { "B4294967297", "0" },
        { Sjis("１２"), "0" },
        // Only the first 29 characters are looked at.
        { std::string(29, '0') + "42", "0" },
        { std::string(28, '0') + "42", "4" },
    };
    for (const auto &[stored, expected] : cases)
        EXPECT_EQ(Read("[MAIL]\r\nCERTIFY=" + stored + "\r\n", "MAIL", "CERTIFY", 1), expected)
            << stored;
    EXPECT_EQ(Read("[MAIL]\r\nCERTIFY=abc\r\n", "MAIL", "CERTIFY", 0), "abc");
    EXPECT_EQ(Read("[MAIL]\r\n", "MAIL", "CERTIFY", 1), "0");
}

TEST_F(IniRead, LongValuesAreCutTo254BytesOnACharacterBoundary)
{
    EXPECT_EQ(Read("[A]\r\nk=" + std::string(300, 'x') + "\r\n", "A", "k"), std::string(254, 'x'));
    EXPECT_EQ(Read("[A]\r\nk=\"" + std::string(300, 'x') + "\"\r\n", "A", "k"),
              std::string(254, 'x'));
    // 253 bytes, then a character of two: the half that would fit is dropped.
    EXPECT_EQ(Read("[A]\r\nk=" + std::string(253, 'x') + Sjis("あ") + "\r\n", "A", "k"),
              std::string(253, 'x'));
    EXPECT_EQ(Read("[A]\r\nk=" + std::string(252, 'x') + Sjis("あい") + "\r\n", "A", "k"),
              std::string(252, 'x') + "あ");
}

TEST_F(IniRead, WithoutAFileValuesAreEmptyAndOtherModesDoNotReadAtAll)
{
    clsIniFile ini;
    EXPECT_EQ(ini.GetValue(dir / "none.INI", "USER", "HOUKOKU"), "");
    EXPECT_EQ(ini.GetValue(dir / "none.INI", "MAIL", "CERTIFY", 1), "0");
    EXPECT_EQ(ini.GetValue(dir / "no/such/folder.INI", "USER", "HOUKOKU"), "");
    EXPECT_EQ(ini.GetValue(dir.path(), "USER", "HOUKOKU"), "");
    EXPECT_EQ(ini.GetValue("", "USER", "HOUKOKU", 1), "0");

    // A pipe under the name would block any reader that opened it plainly.
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(ini.GetValue(path, "A", "k", 2), "");
    EXPECT_EQ(ini.GetValue(path, "A", "k", -1), "");
    EXPECT_EQ(ini.GetValue(path, "A", "k", 0), "");
    EXPECT_EQ(ini.GetValue(path, "A", "k", 1), "0");
}

TEST_F(IniRead, ModeTwoReturnsNothingEvenWhenTheValueExists)
{
    WriteFile(path, "[A]\r\nk=1\r\n");
    EXPECT_EQ(clsIniFile().GetValue(path, "A", "k", 2), "");
    EXPECT_EQ(ReadFile(path), "[A]\r\nk=1\r\n");
}

TEST_F(IniRead, GarbageAndHugeFilesAreReadWithoutHarm)
{
    std::mt19937 random(932);
    std::string garbage(64 * 1024, '\0');
    for (char &c : garbage)
        c = static_cast<char>(random());
    // A lead byte at the very end must not make the reader look past it.
    garbage += "\r\n[A]\r\nk=" + Sjis("表") + "\x81";
    EXPECT_EQ(Read(garbage, "A", "k"), "表?");
    EXPECT_EQ(ReadFile(path), garbage);

    std::string huge = "[A]\r\n";
    while (huge.size() < 10 * 1024 * 1024)
        huge += "key" + std::to_string(huge.size()) + "=" + std::string(100, 'v') + "\r\n";
    huge += "[B]\r\nlast=found\r\n";
    EXPECT_EQ(Read(huge, "B", "last"), "found");
    EXPECT_EQ(Read(huge, "A", "key5"), std::string(100, 'v'));
    EXPECT_EQ(ReadFile(path).size(), huge.size());
}

TEST_F(IniRead, EveryReadSeesTheFileAsItIsNow)
{
    clsIniFile ini;
    ini.PathIniFile(path);
    ini.Section("MAIL");
    ini.Key("PORT");
    WriteFile(path, "[MAIL]\r\nPORT=25\r\n");
    EXPECT_EQ(ini.GetIni(0), "25");
    WriteFile(path, "[MAIL]\r\nPORT=587\r\n");
    EXPECT_EQ(ini.GetIni(0), "587");
    EXPECT_EQ(ini.GetIni(1), "587");
    EXPECT_EQ(ini.GetIni(3), "");
}

} // namespace
