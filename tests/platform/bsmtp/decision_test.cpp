// The trust decision as a table, and the server names it is keyed by.
#include "common/hostname.h"
#include "trust.h"

#include <gtest/gtest.h>

namespace {

using bsmtp::Pin;
using bsmtp::Tls;
using bsmtp::TrustVerdict;
using V = TrustVerdict;

struct Row
{
    const char *what;
    bool secret, tlsChosen;
    Tls tls;
    Pin pin;
    bool recordedTls, plainAllowed;
    TrustVerdict verdict;
};

// secret: a sign-in method (or POP before SMTP); tlsChosen: port 465/995.
const Row kRows[] = {
    { "verified certificate", true, false, Tls::Verified, Pin::None, false, false, V::Go },
    { "verified but another key stored", true, false, Tls::Verified, Pin::Mismatch, true, false,
      V::ChangedKey },
    { "unverified, nothing secret", false, false, Tls::Unverified, Pin::None, false, false, V::Go },
    { "unverified, secret", true, false, Tls::Unverified, Pin::None, false, false,
      V::AskCertificate },
    { "unverified on 465", false, true, Tls::Unverified, Pin::None, false, false,
      V::AskCertificate },
    { "unverified, stored key", true, false, Tls::Unverified, Pin::Match, true, false, V::Go },
    { "another key, nothing secret", false, false, Tls::Unverified, Pin::Mismatch, false, false,
      V::ChangedKey },
    { "weak, secret", true, false, Tls::Weak, Pin::None, false, false, V::TooWeak },
    { "weak, nothing secret", false, false, Tls::Weak, Pin::None, false, false, V::Go },
    { "handshake failed, nothing known", false, false, Tls::Failed, Pin::None, false, false,
      V::RetryWithoutTls },
    { "handshake failed, recorded", false, false, Tls::Failed, Pin::None, true, false,
      V::TlsFailed },
    { "handshake failed, secret", true, false, Tls::Failed, Pin::None, false, true, V::TlsFailed },
    { "no TLS, nothing secret", false, false, Tls::None, Pin::None, false, false, V::Go },
    { "no TLS, secret, first time", true, false, Tls::None, Pin::None, false, false, V::AskPlain },
    { "no TLS, secret, allowed", true, false, Tls::None, Pin::None, false, true, V::Go },
    { "offer struck out, recorded", false, false, Tls::None, Pin::None, true, false, V::Downgrade },
    { "offer struck out, pinned only, allowed", true, false, Tls::None, Pin::Mismatch, false, true,
      V::Downgrade },
};

TEST(TrustDecision, FollowsTheTable)
{
    for (const Row &row : kRows) {
        bsmtp::TrustFacts facts;
        facts.secret = row.secret;
        facts.tlsChosen = row.tlsChosen;
        facts.tls = row.tls;
        facts.pin = row.pin;
        facts.recordedTls = row.recordedTls;
        facts.plainAllowed = row.plainAllowed;
        EXPECT_EQ(bsmtp::DecideTrust(facts), row.verdict) << row.what;
    }
}

TEST(ServerName, OnlyNamesAndAddressesAndOneSpellingOfEach)
{
    for (const char *good : { "mail.example.jp", "Mail.Example.JP.", "smtp_1.example.jp",
                              "192.0.2.1", "[2001:db8::1]", "localhost" })
        EXPECT_TRUE(kestlin::IsServerName(good)) << good;
    for (const char *bad : { "mail.example.test#x", "a/b", "a?b", "user@mail", "mail:25", "::1",
                             "010.1.1.1", "1.2.3", "-mail.jp", "a..b", "", "メール.jp", "[mail]" })
        EXPECT_FALSE(kestlin::IsServerName(bad)) << bad;
    EXPECT_EQ(kestlin::NormalServerName("Mail.Example.JP."), "mail.example.jp");
    EXPECT_EQ(kestlin::NormalServerName("[0:0:0:0:0:0:0:1]"), "::1");
    EXPECT_EQ(kestlin::NormalServerName("2001:DB8:0::1"), "2001:db8::1");
}

} // namespace
