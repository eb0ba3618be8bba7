// libcapicom.so through its C interface. Messages are put together here from
// their fields (with OpenSSL as the reference for SHA-1 and DES) so that each
// kind of damage can be checked on its own.
#include "platform/capicom/capicom.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {
using Bytes = std::string;

Bytes Hex(const char *hex)
{
    Bytes out;
    for (; hex[0] && hex[1]; hex += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16)));
    return out;
}

// The real message of the original platform's component, and its fields.
constexpr char kKnownMessage[]
    = "MGEGCSsGAQQBgjdYA6BUMFIGCisGAQQBgjdYAwGgRDBCAgMCAAECAmYBAgFABAgq\r\n"
      "GpllWj9cswQQh/fnBUZ6ijwKDTH9DLZmBgQYmfaZ3VFyS/lq391oDtjlcRFGnXpx\r\n"
      "lG7o\r\n";
const Bytes kKnownIv = Hex("2A1A99655A3F5CB3");
const Bytes kKnownSalt = Hex("87F7E705467A8A3C0A0D31FD0CB66606");
const Bytes kKnownCiphertext = Hex("99F699DD51724BF96ADFDD680ED8E57111469D7A71946EE8");
const Bytes kMessageOid = Hex("2B0601040182375803");
const Bytes kContentOid = Hex("2B060104018237580301");

Bytes Der(unsigned char tag, const Bytes &content)
{
    Bytes out(1, static_cast<char>(tag));
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<char>(n));
    } else if (n < 0x100) {
        out += "\x81";
        out.push_back(static_cast<char>(n));
    } else {
        out += "\x82";
        out.push_back(static_cast<char>(n >> 8));
        out.push_back(static_cast<char>(n & 0xff));
    }
    return out + content;
}

Bytes Integer(int64_t value)
{
    Bytes content;
    do {
        content.insert(content.begin(), static_cast<char>(value & 0xff));
        value >>= 8;
    } while (value != 0 || (content.front() & 0x80));
    return Der(0x02, content);
}

struct Fields
{
    Bytes messageOid = kMessageOid;
    Bytes contentOid = kContentOid;
    int64_t version = 0x00020001;
    int64_t algorithm = 0x6601;
    int64_t keyBits = 64;
    Bytes iv = kKnownIv;
    Bytes salt = kKnownSalt;
    Bytes ciphertext = kKnownCiphertext;
    Bytes trailer;
};

Bytes Message(const Fields &f)
{
    const Bytes params
        = Der(0x30, Integer(f.version) + Integer(f.algorithm) + Integer(f.keyBits) + Der(0x04, f.iv)
                        + Der(0x04, f.salt) + Der(0x04, f.ciphertext));
    const Bytes content = Der(0x30, Der(0x06, f.contentOid) + Der(0xA0, params));
    return Der(0x30, Der(0x06, f.messageOid) + Der(0xA0, content)) + f.trailer;
}

Bytes Base64(const Bytes &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                  reinterpret_cast<const unsigned char *>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// DES-CBC under SHA-1(secret as UTF-16LE || salt), without padding of its own
// so that the plain text can carry any padding, good or bad.
Bytes DesRaw(const Bytes &secretUtf16, const Bytes &salt, const Bytes &iv, const Bytes &plain)
{
    const Bytes hashed = secretUtf16 + salt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(hashed.data(), hashed.size(), digest, &length, EVP_sha1(), nullptr);
    unsigned char key[24];
    for (int i = 0; i < 3; ++i)
        std::copy_n(digest, 8, key + 8 * i);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Bytes out(plain.size(), '\0');
    int n = 0;
    EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key,
                       reinterpret_cast<const unsigned char *>(iv.data()));
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(out.data()), &n,
                      reinterpret_cast<const unsigned char *>(plain.data()),
                      static_cast<int>(plain.size()));
    return out;
}

class Capicom : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(object, nullptr);
        ASSERT_EQ(capicom_ed_set_algorithm(object, CAPICOM_ENCRYPTION_ALGORITHM_DES,
                                           CAPICOM_ENCRYPTION_KEY_LENGTH_MAXIMUM),
                  CAPICOM_OK);
    }
    void TearDown() override { capicom_ed_destroy(object); }

    int Decrypt(const std::string &base64, std::string &content)
    {
        char *out = nullptr;
        std::size_t length = 0;
        const int code = capicom_ed_decrypt(object, base64.data(), base64.size(), &out, &length);
        if (code == CAPICOM_OK) {
            content.assign(out, length);
            EXPECT_EQ(out[length], '\0');
            capicom_free(out);
        } else {
            EXPECT_STRNE(capicom_ed_error(object), "") << "code " << code;
        }
        return code;
    }

    int Decrypt(const std::string &base64)
    {
        std::string ignored;
        return Decrypt(base64, ignored);
    }

    int Encrypt(const std::string &content, std::string &base64)
    {
        char *out = nullptr;
        const int code = capicom_ed_encrypt(object, content.data(), content.size(), &out);
        if (code == CAPICOM_OK) {
            base64 = out;
            capicom_free(out);
        } else {
            EXPECT_STRNE(capicom_ed_error(object), "") << "code " << code;
        }
        return code;
    }

    capicom_ed *object = capicom_ed_create();
};
} // namespace

TEST_F(Capicom, ReproducesAndReadsTheOriginalPlatformsMessage)
{
    ASSERT_EQ(capicom_ed_set_secret(object, "lovebread"), CAPICOM_OK);
    char *out = nullptr;
    ASSERT_EQ(capicom_ed_encrypt_with(object, "hello world", 11,
                                      reinterpret_cast<const unsigned char *>(kKnownIv.data()),
                                      reinterpret_cast<const unsigned char *>(kKnownSalt.data()),
                                      kKnownSalt.size(), &out),
              CAPICOM_OK)
        << capicom_ed_error(object);
    EXPECT_STREQ(out, kKnownMessage);
    capicom_free(out);

    std::string content;
    ASSERT_EQ(Decrypt(kKnownMessage, content), CAPICOM_OK) << capicom_ed_error(object);
    EXPECT_EQ(content, "hello world");
    // Blanks, tabs and line breaks anywhere are not part of the message.
    std::string spread = " \t";
    for (char ch : Base64(Message({})))
        spread += std::string(1, ch) + (ch == 'A' ? "\r\n" : ch == 'B' ? " " : "");
    ASSERT_EQ(Decrypt(spread, content), CAPICOM_OK) << capicom_ed_error(object);
    EXPECT_EQ(content, "hello world");
}

TEST_F(Capicom, AcceptsTheOlderVersionOnly)
{
    ASSERT_EQ(capicom_ed_set_secret(object, "lovebread"), CAPICOM_OK);
    Fields older;
    older.version = 0x00020000;
    std::string content;
    EXPECT_EQ(Decrypt(Base64(Message(older)), content), CAPICOM_OK) << capicom_ed_error(object);
    EXPECT_EQ(content, "hello world");

    Fields newer;
    newer.version = 0x00020002;
    EXPECT_EQ(Decrypt(Base64(Message(newer))), CAPICOM_E_MESSAGE);
}

TEST_F(Capicom, RejectsEveryFieldItDoesNotUnderstand)
{
    ASSERT_EQ(capicom_ed_set_secret(object, "lovebread"), CAPICOM_OK);
    struct Case
    {
        const char *what;
        Fields fields;
    };
    std::vector<Case> cases(10);
    cases[0] = { "other message type", {} };
    cases[0].fields.messageOid.back() = 4;
    cases[1] = { "other content type", {} };
    cases[1].fields.contentOid.back() = 2;
    cases[2] = { "3DES", {} };
    cases[2].fields.algorithm = 0x6603;
    cases[3] = { "other key length", {} };
    cases[3].fields.keyBits = 56;
    cases[4] = { "short IV", {} };
    cases[4].fields.iv.pop_back();
    cases[5] = { "ciphertext not whole blocks", {} };
    cases[5].fields.ciphertext.pop_back();
    cases[6] = { "empty ciphertext", {} };
    cases[6].fields.ciphertext.clear();
    cases[7] = { "trailing byte", {} };
    cases[7].fields.trailer = Bytes(1, '\0');
    cases[8] = { "trailing message", {} };
    cases[8].fields.trailer = Message({});
    cases[9] = { "huge algorithm number", {} };
    cases[9].fields.algorithm = INT64_MAX;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Decrypt(Base64(Message(c.fields))), CAPICOM_E_MESSAGE);
    }

    const Bytes good = Message({});
    EXPECT_EQ(Decrypt(Base64(good.substr(0, good.size() - 1))), CAPICOM_E_MESSAGE) << "cut short";
    Bytes overlong = good;
    overlong[1] = static_cast<char>(overlong[1] + 1);
    EXPECT_EQ(Decrypt(Base64(overlong)), CAPICOM_E_MESSAGE) << "length beyond the end";
    EXPECT_EQ(Decrypt(Base64("hello world")), CAPICOM_E_MESSAGE) << "not DER at all";
}

TEST_F(Capicom, RejectsTextThatIsNotStrictBase64)
{
    ASSERT_EQ(capicom_ed_set_secret(object, "lovebread"), CAPICOM_OK);
    const std::string known = Base64(Message({}));
    const std::string texts[] = { known.substr(1),
                                  known + "=",
                                  "ab=c",
                                  "a*bc",
                                  "====",
                                  "abc=" + known,
                                  known.substr(0, 8) + '\0' + known.substr(9) };
    for (const std::string &text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Decrypt(text), CAPICOM_E_BASE64);
    }
    EXPECT_EQ(Decrypt(""), CAPICOM_E_EMPTY);
    EXPECT_EQ(Decrypt("\r\n \t"), CAPICOM_E_EMPTY);
}

// A wrong secret must not come back as text: padding and UTF-16 are both checked.
TEST_F(Capicom, WrongSecretsAndBadPlainTextsFailToDecrypt)
{
    const std::string known = kKnownMessage;
    for (int i = 0; i < 300; ++i) {
        const std::string secret = "wrong" + std::to_string(i);
        ASSERT_EQ(capicom_ed_set_secret(object, secret.c_str()), CAPICOM_OK);
        ASSERT_EQ(Decrypt(known), CAPICOM_E_DECRYPT) << secret;
    }

    ASSERT_EQ(capicom_ed_set_secret(object, "lovebread"), CAPICOM_OK);
    const Bytes secret = Bytes("l\0o\0v\0e\0b\0r\0e\0a\0d\0", 18);
    struct Case
    {
        const char *what;
        Bytes plain;
    };
    const Case cases[] = {
        { "padding bytes differ", Bytes("h\0i\0\0\0", 6) + "\x01\x02" },
        { "padding longer than a block", Bytes(8, 'x') + Bytes(8, '\x09') },
        { "padding of zero", Bytes(7, 'x') + Bytes(1, '\0') },
        { "odd length", Bytes("h\0i\0\0\0x", 7) + "\x01" },
        { "lone surrogate", Bytes("\x00\xD8", 2) + Bytes(6, '\x06') },
        { "only padding", Bytes(8, '\x08') },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fields fields;
        fields.ciphertext = DesRaw(secret, kKnownSalt, kKnownIv, c.plain);
        EXPECT_EQ(Decrypt(Base64(Message(fields))), CAPICOM_E_DECRYPT);
    }
}

// Non-ASCII text and secrets go in as UTF-16LE, surrogate pairs included.
TEST_F(Capicom, UsesUtf16ForTextAndSecret)
{
    ASSERT_EQ(capicom_ed_set_secret(object, "鍵\xF0\x9F\x98\x80"), CAPICOM_OK);
    Fields fields;
    const Bytes secret = Hex("75933DD800DE");
    fields.ciphertext = DesRaw(secret, kKnownSalt, kKnownIv, Hex("D130B930") + Bytes(4, '\x04'));
    std::string content;
    ASSERT_EQ(Decrypt(Base64(Message(fields)), content), CAPICOM_OK) << capicom_ed_error(object);
    EXPECT_EQ(content, "パス");

    std::string base64;
    ASSERT_EQ(Encrypt("石油動態報告ﾃｽﾄ", base64), CAPICOM_OK);
    ASSERT_EQ(Decrypt(base64, content), CAPICOM_OK);
    EXPECT_EQ(content, "石油動態報告ﾃｽﾄ");
}

TEST_F(Capicom, FreshMessagesAreFramedInCrLfLinesAndDiffer)
{
    ASSERT_EQ(capicom_ed_set_secret(object, "Ruda"), CAPICOM_OK);
    const std::string text(100, 'z'); // a message of several lines
    std::string first;
    std::string second;
    ASSERT_EQ(Encrypt(text, first), CAPICOM_OK);
    ASSERT_EQ(Encrypt(text, second), CAPICOM_OK);
    EXPECT_NE(first, second);
    for (const std::string &message : { first, second }) {
        std::size_t start = 0;
        std::size_t lines = 0;
        for (std::size_t end; (end = message.find("\r\n", start)) != std::string::npos;
             start = end + 2, ++lines) {
            const bool last = end + 2 == message.size();
            EXPECT_TRUE(last ? end - start <= 64 : end - start == 64);
        }
        EXPECT_EQ(start, message.size()) << "ends with CR LF";
        EXPECT_GE(lines, 3u);
        std::string content;
        ASSERT_EQ(Decrypt(message, content), CAPICOM_OK);
        EXPECT_EQ(content, text);
    }
}

TEST_F(Capicom, RefusesWhatItCannotEncrypt)
{
    std::string base64 = "unchanged";
    EXPECT_EQ(Encrypt("text", base64), CAPICOM_E_NO_SECRET) << "no secret yet";
    EXPECT_EQ(capicom_ed_set_secret(object, ""), CAPICOM_E_NO_SECRET);
    EXPECT_EQ(capicom_ed_set_secret(object, "bad\xFF"), CAPICOM_E_TEXT);
    EXPECT_EQ(capicom_ed_set_algorithm(object, 3, 0), CAPICOM_E_ARGUMENT);
    ASSERT_EQ(capicom_ed_set_secret(object, "Ruda"), CAPICOM_OK);
    EXPECT_EQ(Encrypt("", base64), CAPICOM_E_EMPTY);
    EXPECT_EQ(Encrypt("bad\xC3", base64), CAPICOM_E_TEXT);
    EXPECT_EQ(Encrypt("\xED\xA0\x80", base64), CAPICOM_E_TEXT) << "an encoded surrogate";
    EXPECT_EQ(base64, "unchanged");
    EXPECT_EQ(capicom_ed_encrypt(object, "x", 1, nullptr), CAPICOM_E_ARGUMENT);
    EXPECT_EQ(capicom_ed_decrypt(nullptr, "x", 1, nullptr, nullptr), CAPICOM_E_ARGUMENT);
    EXPECT_STREQ(capicom_ed_error(nullptr), "");
}
