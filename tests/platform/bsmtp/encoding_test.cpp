// The argument strings and the header encodings, checked directly; what a
// real mail program makes of the whole message is in bsmtp_test.cpp.
#include "arguments.h"
#include "greeting.h"
#include "message.h"
#include "sizelimit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

namespace {

using namespace bsmtp;
using Strings = std::vector<std::string>;

TEST(BsmtpArguments, ServerPortAndTimeOut)
{
    Server server;
    std::string reason;
    ASSERT_TRUE(ParseServer("mail.example.jp\t587\t120", 25, server, reason));
    EXPECT_EQ(server.host, "mail.example.jp");
    EXPECT_EQ(server.port, 587);
    EXPECT_EQ(server.timeoutSeconds, 120);
    ASSERT_TRUE(ParseServer("mail.example.jp\t\t0", 25, server, reason));
    EXPECT_EQ(server.port, 25);
    EXPECT_EQ(server.timeoutSeconds, 120); // 0 means the usual two minutes
    ASSERT_TRUE(ParseServer("mail.example.jp", 110, server, reason));
    EXPECT_EQ(server.port, 110);

    EXPECT_FALSE(ParseServer("\t25\t120", 25, server, reason));
    EXPECT_FALSE(ParseServer("host\t70000\t120", 25, server, reason));
    EXPECT_FALSE(ParseServer("host\t25x\t120", 25, server, reason));
    EXPECT_NE(reason.find("25x"), std::string::npos);
}

TEST(BsmtpArguments, RecipientListWithCopyKeywords)
{
    Recipients r = ParseRecipients("<a@x.jp\tb@x.jp\tcc\tc@x.jp\tbcc\td@x.jp\te@x.jp>");
    EXPECT_EQ(r.to, (Strings { "a@x.jp", "b@x.jp" }));
    EXPECT_EQ(r.cc, (Strings { "c@x.jp" }));
    EXPECT_EQ(r.bcc, (Strings { "d@x.jp", "e@x.jp" }));

    // To empty, and an empty value appended (a trailing TAB).
    r = ParseRecipients("<\tcc\tc@x.jp\t>");
    EXPECT_TRUE(r.to.empty());
    EXPECT_EQ(r.cc, (Strings { "c@x.jp" }));
    EXPECT_TRUE(ParseRecipients("<>").to.empty());
}

TEST(BsmtpArguments, SenderWithAccountAndMethod)
{
    Sender s;
    std::string reason;
    ASSERT_TRUE(ParseSender("<me@x.jp>", s, reason));
    EXPECT_EQ(s.address, "me@x.jp");
    EXPECT_TRUE(s.method.empty());

    // The password keeps every ":" after the first one.
    ASSERT_TRUE(ParseSender("<me@x.jp>\tuser:pa:ss\tCRAM-MD5", s, reason));
    EXPECT_EQ(s.user, "user");
    EXPECT_EQ(s.password, "pa:ss");
    EXPECT_EQ(s.method, "CRAM-MD5");

    EXPECT_FALSE(ParseSender("<me@x.jp>\tuser:pass\tDIGEST-MD5", s, reason));
    EXPECT_FALSE(ParseSender("<me@x.jp>\tuser:pass", s, reason));
    EXPECT_FALSE(ParseSender("<>", s, reason));
}

TEST(BsmtpArguments, AttachmentEntries)
{
    const std::vector<Attachment> a
        = ParseAttachments("/w/TMP1.txt|TMP1.txt|application/octet-stream\t\t/w/b|c.bin\t/w/x y");
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].path, "/w/TMP1.txt");
    EXPECT_EQ(a[0].name, "TMP1.txt");
    EXPECT_EQ(a[1].path, "/w/b");
    EXPECT_EQ(a[1].name, "c.bin");
    EXPECT_EQ(a[1].type, "application/octet-stream");
    EXPECT_EQ(a[2].name, "x y");
    // A type that could break its header line is not used.
    EXPECT_EQ(ParseAttachments("/w/a|a|text/plain\r\nX: y")[0].type, "application/octet-stream");
}

// Every line of a folded header within 76 characters, every word within 75.
void ExpectWellFolded(const std::string &value)
{
    std::istringstream lines("Subject: " + value);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        EXPECT_LE(line.size(), 76u) << line;
        const size_t start = line.find("=?");
        ASSERT_NE(start, std::string::npos) << line;
        EXPECT_LE(line.size() - start, 75u) << line;
    }
}

TEST(BsmtpSubject, LongSubjectsAreFoldedIntoShortWords)
{
    std::string japanese;
    for (int i = 0; i < 12; ++i)
        japanese += "【石油動態報告】";
    const std::string encoded = EncodeSubject(japanese);
    EXPECT_EQ(encoded.rfind("=?ISO-2022-JP?B?", 0), 0u);
    EXPECT_EQ(encoded.find("UTF-8"), std::string::npos);
    ExpectWellFolded(encoded);

    // Characters outside ISO-2022-JP go into UTF-8 words of their own.
    const std::string mixed = EncodeSubject("報告①㈱髙～ABC報告");
    EXPECT_NE(mixed.find("=?ISO-2022-JP?B?"), std::string::npos);
    EXPECT_NE(mixed.find("=?UTF-8?B?"), std::string::npos);
    ExpectWellFolded(mixed);

    EXPECT_EQ(EncodeSubject("Monthly report"), "Monthly report");
}

TEST(BsmtpBody, IsoTwentyTwoJpWhenItFitsElseUtf8)
{
    EncodedBody body = EncodeBody("報告ID:1\nユーザーID:2");
    EXPECT_EQ(body.charset, "ISO-2022-JP");
    EXPECT_EQ(body.encoding, "7bit");
    EXPECT_NE(body.text.find("\r\n"), std::string::npos);
    for (unsigned char c : body.text)
        EXPECT_LT(c, 0x80);

    body = EncodeBody("株式会社は㈱");
    EXPECT_EQ(body.charset, "UTF-8");
    EXPECT_EQ(body.encoding, "base64");

    // A line too long for 7bit is not sent as 7bit.
    EXPECT_EQ(EncodeBody(std::string(1200, 'a')).encoding, "base64");

    // Bytes that are no UTF-8 (an overlong "/", a lead beyond U+10FFFF, a
    // character cut off) are never sent as they are.
    body = EncodeBody("a\xC0\xAF\xF5\xE7\x9F");
    EXPECT_EQ(body.charset, "UTF-8");
    EXPECT_EQ(body.text.rfind(Base64("a\uFFFD\uFFFD\uFFFD\uFFFD"), 0), 0u) << body.text;
}

TEST(BsmtpDate, CarriesTheLocalOffset)
{
    const char *saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    EXPECT_EQ(FormatDate(0), "Thu, 01 Jan 1970 09:00:00 +0900");
    ::setenv("TZ", "EST5", 1);
    ::tzset();
    EXPECT_EQ(FormatDate(0), "Wed, 31 Dec 1969 19:00:00 -0500");
    if (saved)
        ::setenv("TZ", before.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

// A name with a dot, else the literal of our own address; never a bare name.
TEST(BsmtpGreeting, QualifiedNameOrAddressLiteral)
{
    const std::string machine = QualifiedHostName();
    EXPECT_TRUE(machine.empty() || machine.find('.') != std::string::npos) << machine;
    EXPECT_EQ(GreetingName("pc01.example.co.jp", "192.0.2.1"), "pc01.example.co.jp");
    EXPECT_EQ(GreetingName("", "192.0.2.1"), "[192.0.2.1]");
    EXPECT_EQ(GreetingName("", "2001:db8::1"), "[IPv6:2001:db8::1]");
    EXPECT_EQ(GreetingName("", "fe80::1%eth0"), "[IPv6:fe80::1]");
    EXPECT_EQ(GreetingName("", "::ffff:192.0.2.1"), "[192.0.2.1]");
    EXPECT_EQ(GreetingName("", ""), "[127.0.0.1]");
}

TEST(BsmtpSize, LimitFromTheEhloReply)
{
    EXPECT_EQ(ParseSizeOffer(" 10240000").limit, 10240000);
    for (const char *none : { "", " 0", " 10M", " 99999999999999999999" }) {
        const SizeOffer offer = ParseSizeOffer(none);
        EXPECT_TRUE(offer.offered);
        EXPECT_EQ(offer.limit, 0) << none;
        EXPECT_EQ(TooLargeReason(offer, 1LL << 40, "mail"), "");
    }
    // Sizes a hair apart still read apart.
    const std::string reason = TooLargeReason({ true, 10485760 }, 10485761, "mail.example.jp");
    EXPECT_NE(reason.find(" 10.1 MB ですが、SMTPサーバー mail.example.jp が受け付けるのは 10.0 MB"),
              std::string::npos)
        << reason;
    EXPECT_EQ(TooLargeReason({ true, 10485760 }, 10485760, "mail"), "");
}

} // namespace
