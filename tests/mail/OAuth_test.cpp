// The token client against the test identity provider, and the rules that
// keep a token off the wrong road.
#include "IdentityProvider.h"
#include "mail/OAuthHttp.h"
#include "mail/OAuthProvider.h"
#include "mail/OAuthSignIn.h"
#include "mail/OAuthTokenStore.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace kestlin::test {
namespace {

TEST(OAuth, TokensTravelOnlyOverHttpsOrToThisMachine)
{
    for (const char *url : { "https://login.example.com/token", "http://127.0.0.1:8080/token",
                             "http://[::1]:8080/token" })
        EXPECT_EQ(OAuthUrlRefusal(url), "") << url;
    for (const char *url : { "http://login.example.com/token", "http://localhost/token",
                             "http://127.0.0.1.example.com/token", "ftp://127.0.0.1/token",
                             "file:///etc/passwd", "" })
        EXPECT_NE(OAuthUrlRefusal(url), "") << url;
    HttpReply reply;
    std::string reason;
    EXPECT_FALSE(PostForm("http://login.example.com/token", {}, reply, reason));
    EXPECT_NE(reason.find("https"), std::string::npos) << reason;
}

TEST(OAuth, PresetsAndWhatTheSettingsMayChange)
{
    OAuthSettings s;
    s.clientId = "app";
    OAuthEndpoints e;
    std::string reason;
    ASSERT_TRUE(ResolveOAuth(s, e, reason)) << reason;
    EXPECT_EQ(e.tokenUrl, "https://login.microsoftonline.com/organizations/oauth2/v2.0/token");
    EXPECT_EQ(e.deviceUrl,
              "https://login.microsoftonline.com/organizations/oauth2/v2.0/devicecode");
    EXPECT_EQ(e.scope, "https://outlook.office.com/SMTP.Send offline_access");
    s.tenant = "contoso.onmicrosoft.com";
    ASSERT_TRUE(ResolveOAuth(s, e, reason));
    EXPECT_EQ(e.authUrl,
              "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/authorize");
    s.tenant = "evil/../../x?";
    EXPECT_FALSE(ResolveOAuth(s, e, reason));

    s = {};
    s.provider = "google";
    s.clientId = "app";
    ASSERT_TRUE(ResolveOAuth(s, e, reason));
    EXPECT_EQ(e.deviceUrl, "") << "Google's device grant does not cover mail";
    EXPECT_TRUE(e.askOffline);
    s.tokenUrl = "http://oauth.example.com/token";
    EXPECT_FALSE(ResolveOAuth(s, e, reason));
    s = {};
    s.provider = "custom";
    s.clientId = "app";
    EXPECT_FALSE(ResolveOAuth(s, e, reason)) << "custom has no endpoints of its own";
}

// The browser of this machine: the provider sends it back to the loopback
// address with a code, which is exchanged with the PKCE verifier.
TEST(OAuth, BrowserSignInComesBackAndStoresTheGrantForItsOwnerOnly)
{
    IdentityProvider idp;
    std::string reason;
    ASSERT_TRUE(idp.Start(IdentityOptions {}, reason)) << reason;
    TempDir dir;
    const std::string ini = dir / "Kestlin.INI";
    OAuthEndpoints endpoints;
    endpoints.provider = "custom";
    endpoints.clientId = "kestlin-test";
    endpoints.authUrl = idp.Url("/authorize");
    endpoints.tokenUrl = idp.Url("/token");
    endpoints.scope = "smtp";
    endpoints.loopbackHost = "localhost"; // as Microsoft registrations name it
    // A grant file left readable by others is not left so.
    WriteFile(TokenStorePath(ini), "{}");
    ::chmod(TokenStorePath(ini).c_str(), 0644);

    BrowserAuthorization authorization(ini, endpoints);
    std::string url;
    ASSERT_TRUE(authorization.Begin(url, reason)) << reason;
    std::thread browser([url] { std::system(("curl -sL -o /dev/null '" + url + "'").c_str()); });
    BrowserAuthorization::State state = BrowserAuthorization::State::Waiting;
    for (int i = 0; i < 100 && state == BrowserAuthorization::State::Waiting; ++i)
        state = authorization.Poll(100, reason);
    browser.join();
    ASSERT_EQ(state, BrowserAuthorization::State::Done) << reason;
    EXPECT_EQ(idp.Requests().back(), "/token authorization_code");
    StoredGrant grant;
    ASSERT_TRUE(LoadGrant(TokenStorePath(ini), grant, reason)) << reason;
    EXPECT_EQ(grant.clientId, "kestlin-test");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(TokenStorePath(ini).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
} // namespace kestlin::test
