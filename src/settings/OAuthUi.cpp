#include "settings/OAuthUi.h"

#include "common/Display.h"
#include "mail/OAuthSignIn.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

namespace kestlin {

namespace {

constexpr int kBrowserMinutes = 10;
constexpr int kSliceMs = 50;

// A modal window that says what to do and can be stopped with 「中止」.
class WaitWindow : public QDialog
{
public:
    explicit WaitWindow(QWidget *owner)
        : QDialog(owner)
    {
        setObjectName("frmAuthorize");
        setWindowTitle(QStringLiteral("OAuth 2.0 の認可"));
        setModal(true);
        auto *layout = new QVBoxLayout(this);
        text_ = new QLabel;
        text_->setObjectName("lblAuthorize");
        text_->setWordWrap(true);
        text_->setTextInteractionFlags(Qt::TextBrowserInteraction);
        text_->setOpenExternalLinks(true);
        text_->setMinimumWidth(420);
        layout->addWidget(text_);
        auto *stop = new QPushButton(QStringLiteral("中止"));
        stop->setObjectName("cmdAuthorizeStop");
        stop->setAccessibleName(QStringLiteral("認可を中止"));
        layout->addWidget(stop, 0, Qt::AlignRight);
        connect(stop, &QPushButton::clicked, this, &QDialog::reject);
        connect(this, &QDialog::rejected, this, [this] { stopped_ = true; });
    }

    void Say(const QString &html)
    {
        text_->setText(html);
        // A screen reader reads the words, not the markup.
        text_->setAccessibleName(QTextDocumentFragment::fromHtml(html).toPlainText());
        show();
        QCoreApplication::processEvents();
    }

    // Keeps the window alive for ms milliseconds; false once the user stopped.
    bool Wait(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (!stopped_ && timer.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, kSliceMs);
            QThread::msleep(kSliceMs);
        }
        return !stopped_;
    }

    bool Stopped() const { return stopped_; }

private:
    QLabel *text_ = nullptr;
    bool stopped_ = false;
};

QString Link(const std::string &url)
{
    const QString u = QString::fromStdString(url).toHtmlEscaped();
    return "<a href=\"" + u + "\">" + u + "</a>";
}

bool ByBrowser(WaitWindow &window, BrowserAuthorization &authorization, const std::string &url,
               std::string &reason)
{
    window.Say(QStringLiteral("ブラウザでメールアカウントにサインインして、許可してください。"
                              "ブラウザが開かないときは、次のアドレスを開いてください。<br>")
               + Link(url));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kBrowserMinutes * 60 * 1000) {
        switch (authorization.Poll(kSliceMs, reason)) {
        case BrowserAuthorization::State::Done:
            return true;
        case BrowserAuthorization::State::Failed:
            return false;
        case BrowserAuthorization::State::Waiting:
            break;
        }
        if (!window.Wait(kSliceMs))
            return false;
    }
    reason
        = "ブラウザからの応答が" + std::to_string(kBrowserMinutes) + "分以内にありませんでした。";
    return false;
}

bool ByDevice(WaitWindow &window, const std::string &iniPath, const OAuthEndpoints &endpoints,
              std::string &reason)
{
    OAuthClient client(endpoints);
    DeviceAuthorization device;
    if (!client.StartDevice(device, reason))
        return false;
    window.Say(QStringLiteral(
                   "ブラウザ（別のパソコンやスマートフォンでもかまいません）で次のアドレスを開き、"
                   "コードを入力して、メールアカウントでサインインしてください。<br>")
               + Link(device.verificationUri) + QStringLiteral("<br>コード: <b>")
               + QString::fromStdString(device.userCode).toHtmlEscaped() + "</b>");
    OAuthTokens tokens;
    const auto wait
        = [&](std::chrono::seconds s) { return window.Wait(static_cast<int>(s.count() * 1000)); };
    return client.PollDevice(device, tokens, reason, wait)
           && KeepGrant(iniPath, endpoints, tokens, reason);
}

} // namespace

bool AuthorizeInWindow(QWidget *owner, Display &display, const std::string &iniPath,
                       const OAuthSettings &settings)
{
    OAuthEndpoints endpoints;
    std::string reason;
    if (!ResolveOAuth(settings, endpoints, reason)) {
        display.ShowMessage(reason, kAppTitle, MsgIcon::Exclamation);
        return false;
    }
    WaitWindow window(owner);
    bool ok = false;
    BrowserAuthorization authorization(iniPath, endpoints);
    std::string url;
    // The browser of this machine where one starts; else the code for any device.
    if (!endpoints.authUrl.empty() && authorization.Begin(url, reason)
        && (QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(url)))
            || endpoints.deviceUrl.empty()))
        ok = ByBrowser(window, authorization, url, reason);
    else if (!endpoints.deviceUrl.empty())
        ok = ByDevice(window, iniPath, endpoints, reason);
    const bool stopped = window.Stopped();
    window.hide();
    if (ok)
        display.ShowMessage("認可しました。メールはこの認可で送信します。", kAppTitle,
                            MsgIcon::Information);
    else if (!stopped)
        display.ShowMessage("認可できませんでした。\n" + reason, kAppTitle, MsgIcon::Exclamation);
    return ok;
}

} // namespace kestlin
