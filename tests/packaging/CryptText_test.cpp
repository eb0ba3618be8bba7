// Text mode of clsCryptFile: through the real libcapicom.so of the build.
#include "packaging/clsCryptFile.h"
#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace kestlin;

namespace {
// Real output of the original platform's component: "hello world" under "lovebread".
constexpr char kKnownMessage[]
    = "MGEGCSsGAQQBgjdYA6BUMFIGCisGAQQBgjdYAwGgRDBCAgMCAAECAmYBAgFABAgq\r\n"
      "GpllWj9cswQQh/fnBUZ6ijwKDTH9DLZmBgQYmfaZ3VFyS/lq391oDtjlcRFGnXpx\r\n"
      "lG7o\r\n";

std::string WithoutLineBreaks(std::string text)
{
    std::erase(text, '\r');
    std::erase(text, '\n');
    return text;
}

struct Outcome
{
    bool ok = false;
    std::string out;
    std::string error;
    int crypted = 0;
};

Outcome CryptText(bool encrypt, const std::string &in, const std::string &password = "Ruda")
{
    clsCryptFile crypt;
    Outcome outcome;
    crypt.Crypted = [&outcome] { ++outcome.crypted; };
    crypt.OutFile("former");
    crypt.InFile(in);
    crypt.Password(password);
    outcome.ok = encrypt ? crypt.Encrypt(1) : crypt.Decrypt(1);
    outcome.out = crypt.OutFile();
    outcome.error = crypt.GetErrMsg();
    return outcome;
}

// Lines of at most 64 Base64 characters, each ended by CR LF.
void ExpectFramedBase64(const std::string &text)
{
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        EXPECT_LE(line.size(), 64u);
        EXPECT_EQ(line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789+/="),
                  std::string::npos)
            << line;
        if (end + 2 < text.size()) {
            EXPECT_EQ(line.size(), 64u) << "only the last line is short";
        }
        start = end + 2;
    }
}
} // namespace

TEST(CryptText, ReadsTheOriginalPlatformsMessageWithOrWithoutLineBreaks)
{
    for (const std::string &message :
         { std::string(kKnownMessage), WithoutLineBreaks(kKnownMessage) }) {
        const Outcome outcome = CryptText(false, message, "lovebread");
        EXPECT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(outcome.out, "hello world");
        EXPECT_EQ(outcome.crypted, 1);
    }
}

TEST(CryptText, RoundTripsThroughTheStoredFormWithoutLineBreaks)
{
    const std::string texts[] = {
        "secret-01", "石油動態報告ﾊﾟｽﾜｰﾄﾞ", std::string(255, 'p'),
        std::string("あ") + std::string(252, 'x'), // 255 bytes in UTF-8, 254 in CP932
    };
    for (const std::string &text : texts) {
        SCOPED_TRACE(text);
        const Outcome encrypted = CryptText(true, text);
        ASSERT_TRUE(encrypted.ok) << encrypted.error;
        EXPECT_EQ(encrypted.crypted, 1);
        ExpectFramedBase64(encrypted.out);

        const Outcome decrypted = CryptText(false, WithoutLineBreaks(encrypted.out));
        ASSERT_TRUE(decrypted.ok) << decrypted.error;
        EXPECT_EQ(decrypted.out, text);
    }
    EXPECT_NE(CryptText(true, "same").out, CryptText(true, "same").out)
        << "every message has its own salt";
}

TEST(CryptText, CharactersWithoutACp932FormAreEncryptedAsQuestionMarks)
{
    const Outcome encrypted = CryptText(true, "pass\xF0\x9F\x98\x80word");
    ASSERT_TRUE(encrypted.ok) << encrypted.error;
    const Outcome decrypted = CryptText(false, WithoutLineBreaks(encrypted.out));
    ASSERT_TRUE(decrypted.ok) << decrypted.error;
    EXPECT_EQ(decrypted.out, "pass?word");
}

TEST(CryptText, BadInputFailsWithAReasonAndKeepsTheFormerResult)
{
    const std::string known = WithoutLineBreaks(kKnownMessage);
    struct Case
    {
        const char *what;
        bool encrypt;
        std::string text;
        std::string password;
    };
    const Case cases[] = {
        { "empty text to encrypt", true, "", "Ruda" },
        { "empty text to decrypt", false, "", "Ruda" },
        { "not Base64", false, "####", "Ruda" },
        { "Base64 cut short", false, known.substr(0, known.size() - 1), "lovebread" },
        { "Base64 of something else", false, "aGVsbG8gd29ybGQ=", "Ruda" },
        { "message cut at a quantum", false, known.substr(0, known.size() - 8), "lovebread" },
        { "wrong password", false, known, "Ruda" },
        { "empty password", true, "text", "" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = CryptText(c.encrypt, c.text, c.password);
        EXPECT_FALSE(outcome.ok);
        EXPECT_FALSE(outcome.error.empty());
        EXPECT_EQ(outcome.out, "former");
        EXPECT_EQ(outcome.crypted, 1);
    }
}

// The library is looked for in the program folder (here the test's own
// folder, which has none) and then along the loader's path, which a child
// process can be given without it.
class CryptTextLibrary : public ::testing::Test
{
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    static void RunInChildWithLibraryPath(const std::string &path, const char *expected)
    {
        const char *saved = std::getenv("LD_LIBRARY_PATH");
        const std::string previous = saved ? saved : "";
        ::setenv("LD_LIBRARY_PATH", path.c_str(), 1);
        EXPECT_EXIT(
            {
                const Outcome outcome = CryptText(true, "text");
                std::fprintf(stderr, "[%s]\n", outcome.error.c_str());
                std::exit(!outcome.ok && outcome.crypted == 1 && outcome.out == "former" ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), expected);
        if (saved)
            ::setenv("LD_LIBRARY_PATH", previous.c_str(), 1);
        else
            ::unsetenv("LD_LIBRARY_PATH");
    }
};

TEST_F(CryptTextLibrary, AMissingLibraryIsAFailureNamingIt)
{
    kestlin::test::TempDir empty;
    RunInChildWithLibraryPath(empty.path(), "libcapicom\\.so");
}

TEST_F(CryptTextLibrary, AMissingEntryPointIsAFailureNamingIt)
{
    RunInChildWithLibraryPath(KESTLIN_INCOMPLETE_CAPICOM_DIR,
                              "libcapicom\\.so.*capicom_ed_set_algorithm");
}
