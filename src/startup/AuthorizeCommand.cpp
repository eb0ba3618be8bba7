#include "startup/AuthorizeCommand.h"

#include "mail/OAuthSignIn.h"
#include "mail/OAuthTokenStore.h"
#include "startup/CommandLine.h"

#include <thread>

namespace kestlin {

namespace {

// How long a browser sign-in on this machine may take.
constexpr int kBrowserMinutes = 10;

int ByDevice(const std::string &iniPath, const OAuthEndpoints &endpoints, Terminal &terminal)
{
    OAuthClient client(endpoints);
    DeviceAuthorization device;
    std::string reason;
    if (!client.StartDevice(device, reason)) {
        terminal.Fail("認可を始められません。\n" + reason);
        return kExitNotSent;
    }
    terminal.Say(
        "ブラウザで次のアドレスを開き、コードを入力して、メールアカウントでサインインしてください"
        "（別のパソコンやスマートフォンでもかまいません）。\n  アドレス: "
        + device.verificationUri + "\n  コード:   " + device.userCode + "\n"
        + std::to_string((device.expiresIn + 59) / 60) + "分以内に操作してください。待っています…");
    std::fflush(stdout);
    OAuthTokens tokens;
    const auto sleep = [](std::chrono::seconds s) {
        std::this_thread::sleep_for(s);
        return true;
    };
    if (!client.PollDevice(device, tokens, reason, sleep)
        || !KeepGrant(iniPath, endpoints, tokens, reason)) {
        terminal.Fail("認可できませんでした。\n" + reason);
        return kExitNotSent;
    }
    return kExitDone;
}

int ByBrowser(const std::string &iniPath, const OAuthEndpoints &endpoints, Terminal &terminal)
{
    BrowserAuthorization authorization(iniPath, endpoints);
    std::string url, reason;
    if (!authorization.Begin(url, reason)) {
        terminal.Fail("認可を始められません。\n" + reason);
        return kExitNotSent;
    }
    terminal.Say("このパソコンのブラウザで次のアドレスを開き、メールアカウントでサインインして許可"
                 "してください"
                 "。\n  "
                 + url + "\n" + std::to_string(kBrowserMinutes)
                 + "分以内に操作してください。待っています…");
    std::fflush(stdout);
    for (int second = 0; second < kBrowserMinutes * 60; ++second) {
        switch (authorization.Poll(1000, reason)) {
        case BrowserAuthorization::State::Waiting:
            continue;
        case BrowserAuthorization::State::Done:
            return kExitDone;
        case BrowserAuthorization::State::Failed:
            terminal.Fail("認可できませんでした。\n" + reason);
            return kExitNotSent;
        }
    }
    terminal.Fail("認可できませんでした。\nブラウザからの応答が" + std::to_string(kBrowserMinutes)
                  + "分以内にありませんでした。");
    return kExitNotSent;
}

} // namespace

int RunAuthorize(const std::string &iniPath, Terminal &terminal)
{
    OAuthEndpoints endpoints;
    std::string reason;
    if (!OAuthEndpointsOf(iniPath, endpoints, reason)) {
        terminal.Fail(iniPath + "\n" + reason);
        return kExitRefused;
    }
    const int status = endpoints.deviceUrl.empty() ? ByBrowser(iniPath, endpoints, terminal)
                                                   : ByDevice(iniPath, endpoints, terminal);
    if (status == kExitDone)
        terminal.Say("認可しました。メールの送信に使う認可を保存しました:\n  "
                     + TokenStorePath(iniPath));
    return status;
}

} // namespace kestlin
