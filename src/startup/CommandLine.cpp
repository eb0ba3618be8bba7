#include "startup/CommandLine.h"

#include "common/files.h"
#include "common/userfolders.h"
#include "mail/OAuthSignIn.h"
#include "mail/clsMail.h"
#include "settings/SettingsCheck.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "startup/AuthorizeCommand.h"
#include "startup/Interruption.h"
#include "startup/KestlinStart.h"
#include "startup/ListRules.h"
#include "startup/SendSteps.h"
#include "startup/SubmissionRecord.h"
#include "startup/Terminal.h"
#include "startup/basKestlin_01.h"

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin {

namespace {

namespace fs = std::filesystem;

constexpr const char *kUsage = R"(使い方:
  kestlin                     画面を開きます。
  kestlin --send ファイル...  ファイルを1回の石油動態報告として送信します（画面は開きません）。
                              画面の「送信」と同じ手順で、同じLOGとエラーLOGを残します。
  kestlin --check             設定ファイルを設定画面と同じ規則で確認します。
  kestlin --authorize         OAuth 2.0（Microsoft 365 / Google）でメールを送信する認可を
                              受けます。表示されるアドレスをブラウザで開いてサインインします。
  kestlin --version           バージョンを表示します。
  kestlin --help              この説明を表示します。
  kestlin -platform wayland   Qt の画面用オプション (-platform、-style、-reverse、
                              --display など) だけを付けると画面を開きます。

オプション:
  --settings パス             使う設定ファイル（--send、--check、--authorize で使えます）。
                              省略すると画面と同じ Kestlin.INI を使います。
  --                          これより後の引数はすべて送信するファイルとして扱います。

終了コード:
  0  送信し、LOGを記録しました（--check: 問題はありません）。
  2  送信前に中止しました（引数、ファイル、設定ファイル、ライブラリの確認）。何も送信していません。
  3  送信に失敗しました。何も送信していません。エラーLOGを確認してください。
     （--authorize: 認可できませんでした。）
  4  メールは送信しましたが、LOGの記録に失敗しました（または送信されたか分かりません）。
     同じ報告を再送信しないでください。
  5  同じ設定ファイルを使うKestlinが実行中です（画面または別の送信）。何もしていません。
  6  前回の送信が途中で終了していました。その結果を表示し（受け付け済みならLOGを作成し）、
     今回は何も送信していません（--check: 終了していない送信の記録があります）。
     表示を確認してから、もう一度実行してください。
)";

// The steps that run after the mail has gone out.
bool AfterMailing(const std::string &step)
{
    return step == "FncMoveLog" || step == "FncCrtLogFile";
}

std::string FullPath(const std::string &arg)
{
    return fs::absolute(fs::path(arg)).lexically_normal().string();
}

bool SetMode(CommandLine &line, CommandLine::Mode mode, bool &haveMode)
{
    if (haveMode && line.mode != mode) {
        line.error
            = "--send、--check、--authorize、--version、--help はどれか一つだけ指定してください。";
        return false;
    }
    line.mode = mode;
    haveMode = true;
    return true;
}

// Why the settings file at path cannot be used; empty when it can.
std::string GivenSettingsProblem(const std::string &path)
{
    if (FolderExists(path))
        return "「" + path + "」はフォルダです。--settings には設定ファイルを指定してください。";
    if (!OrdinaryFileExists(path))
        return "設定ファイル「" + path + "」が見つかりません。";
    return {};
}

// The first file that the list would refuse, named, with the reason; empty
// when every file may be sent.
std::string ListRefusal(const std::vector<std::string> &files, std::vector<std::string> &entries)
{
    for (const std::string &file : files) {
        const std::string path = FullPath(file);
        std::string reason;
        struct stat st
        {
        };
        if (FolderExists(path))
            reason = "フォルダは添付できません。";
        else if (!OrdinaryFileExists(path))
            reason = ::stat(path.c_str(), &st) == 0
                         ? "隠しファイルや特殊なファイルは添付できません。"
                         : "ファイルが見つかりません。";
        else if (std::string refusal = NameRefusal(path); !refusal.empty())
            reason = refusal;
        else if (std::find(entries.begin(), entries.end(), path) != entries.end())
            reason = "同じファイルが2回指定されています。";
        if (!reason.empty())
            return "「" + path + "」は添付できません。\n" + reason + "\n何も送信していません。";
        entries.push_back(path);
    }
    return {};
}

class FileList : public AttachmentList
{
public:
    explicit FileList(std::vector<std::string> entries)
        : entries_(std::move(entries))
    { }
    int Count() const override { return static_cast<int>(entries_.size()); }
    std::string Entry(int index) const override { return entries_.at(static_cast<size_t>(index)); }
    void SetSelected(int, bool) override { }
    void Remove(int index) override { entries_.erase(entries_.begin() + index); }
    void FocusAddButton() override { }

private:
    std::vector<std::string> entries_;
};

// The settings file of this run, or why there is none: the one given, else
// the one the window would use.
bool SettingsPath(const CommandLine &line, std::string &ini, std::string &problem)
{
    if (!line.settings.empty()) {
        ini = FullPath(line.settings);
        problem = GivenSettingsProblem(ini);
        return problem.empty();
    }
    const FileLocations files = LocateFiles();
    problem = files.failure;
    ini = IniFilePathIn(files.settingsFolder);
    return problem.empty();
}

int RunCheck(const CommandLine &line, Terminal &terminal)
{
    std::string ini, problem;
    if (!SettingsPath(line, ini, problem) || !(problem = GivenSettingsProblem(ini)).empty()) {
        terminal.Fail(problem);
        return kExitRefused;
    }
    SubmissionRecord record;
    std::string unread;
    if (ReadSubmissionRecord(SubmissionRecordPath(ini), record, unread) != RecordFound::None) {
        terminal.Fail(ini + "\n" + "前回の送信が終了していません（" + SubmissionRecordPath(ini)
                      + "）。\nkestlin を起動するか kestlin --send を実行すると、"
                        "その送信について表示します。");
        return kExitEarlierRun;
    }
    SettingsValues values;
    SettingsLoadFailure stop;
    if (!LoadSettingsFile(ini, values, stop)) {
        std::string failure;
        if (stop.undecryptable)
            failure = KeyLabel(*stop.undecryptable) + ": パスワードを復号できません。\n"
                      + "設定画面でパスワードを入力し直してください。";
        else
            failure = KeyLabel(SettingKey::MailCertify) + ": " + stop.message;
        terminal.Fail(ini + "\n" + failure);
        return kExitRefused;
    }
    if (const auto problem = CheckSettings(values)) {
        terminal.Fail(ini + "\n" + KeyLabel(KeyOfField(problem->field)) + ": " + problem->message);
        return kExitRefused;
    }
    // The servers the mailing step trusts are part of what it is set up with.
    const std::string known = KnownServersPath(ini);
    std::string problems;
    if (fs::exists(fs::symlink_status(known)) && !CheckKnownServers(known, problems)) {
        terminal.Fail(ini + "\n" + problems);
        return kExitRefused;
    }
    // The grant is checked where it is kept, without asking the provider.
    if (values.certify == kCertifyOAuth) {
        if (const std::string grant = StoredGrantProblem(ini); !grant.empty()) {
            terminal.Fail(ini + "\n[OAUTH]: " + grant);
            return kExitRefused;
        }
    }
    terminal.Say(ini + "\n設定ファイルに問題はありません。");
    return kExitDone;
}

int RunAuthorizeMode(const CommandLine &line, Terminal &terminal)
{
    std::string ini, problem;
    if (!SettingsPath(line, ini, problem) || !(problem = GivenSettingsProblem(ini)).empty()) {
        terminal.Fail(problem);
        return kExitRefused;
    }
    return RunAuthorize(ini, terminal);
}

// The start-up checks of the window, less the window: false when the run must end.
bool StartUpChecks(Terminal &terminal)
{
    if (!FncChkDll(terminal))
        return false;
    std::string msg;
    if (!FncChkVersion(msg)) {
        terminal.Fail(msg.empty() ? "システムのバージョンを確認できません。" : msg);
        return false;
    }
    if (!MakeUserFolders(LocateFiles(), msg)) {
        terminal.Fail(msg);
        return false;
    }
    return true;
}

int Finish(const SendOutcome &outcome, SendPipeline &pipeline, Terminal &terminal)
{
    switch (outcome.kind) {
    case SendOutcome::Kind::Stopped:
        return kExitRefused;
    case SendOutcome::Kind::Sent:
        pipeline.End(outcome);
        return kExitDone;
    case SendOutcome::Kind::MaybeSent:
    case SendOutcome::Kind::LogsMissing:
        terminal.Fail(outcome.message);
        return kExitLogFailed;
    case SendOutcome::Kind::StepFailed:
        break;
    }
    if (AfterMailing(outcome.step)) {
        terminal.Fail("メールは送信しましたが、LOGの記録に失敗しました（" + outcome.step + "）。\n"
                      + outcome.message + "\n同じ報告を再送信しないでください。");
        return kExitLogFailed;
    }
    terminal.Fail("送信に失敗しました（" + outcome.step + "）。\n" + outcome.message
                  + "\n何も送信していません。");
    return kExitNotSent;
}

int RunSend(const CommandLine &line, Terminal &terminal)
{
    // A missing default settings file is the pipeline's to report, as for the window.
    std::string ini, problem;
    if (!SettingsPath(line, ini, problem)) {
        terminal.Fail(problem);
        return kExitRefused;
    }
    // The same lock as the window's: one copy at a time uses a settings file.
    InstanceLock lock(fs::path(ini).parent_path().string());
    if (!lock.TryLock()) {
        // A lock folder that cannot be used is not another copy: say so.
        if (!lock.Problem().empty()) {
            terminal.Fail(lock.Problem());
            return kExitRefused;
        }
        terminal.Fail("二重起動はできません。\n"
                      "同じ設定ファイルを使うKestlinが実行中です（画面または別の送信）。"
                      "終わってから、もう一度実行してください。");
        return kExitRunning;
    }
    if (!StartUpChecks(terminal))
        return kExitRefused;
    strIniFilePath = ini;
    interruption::Install(false);
    // A run that was cut short comes first: this one sends nothing, so that
    // a job never sends a report twice on its own.
    {
        NoAttachments none;
        if (SendPipeline(terminal, none, ini).RecoverEarlier() != SendPipeline::Recovery::None)
            return kExitEarlierRun;
    }
    RemoveAbandonedWorkSpaces(ini,
                              InstanceLock::LockFilePath(fs::path(ini).parent_path().string()));

    std::vector<std::string> entries;
    if (const std::string refusal = ListRefusal(line.files, entries); !refusal.empty()) {
        terminal.Fail(refusal);
        return kExitRefused;
    }
    // The pipeline's own message does not say which file it looked for.
    if (!OrdinaryFileExists(ini))
        terminal.Fail("設定ファイル: " + ini);
    FileList list(std::move(entries));
    SendPipeline pipeline(terminal, list, ini);
    pipeline.OwnerLock(InstanceLock::LockFilePath(fs::path(ini).parent_path().string()));
    if (!pipeline.Begin())
        return kExitRefused;
    pipeline.Progress(&terminal);
    SendOutcome outcome;
    try {
        outcome = pipeline.RunSteps();
    } catch (const std::exception &e) {
        // Whether the mail went out is not known: a script must not simply send again.
        terminal.Fail(std::string("送信中に予期しないエラーが発生しました。\n") + e.what()
                      + "\n送信されたかどうかを送信LOGで確認してください。");
        return kExitLogFailed;
    }
    pipeline.Progress(nullptr);
    return Finish(outcome, pipeline, terminal);
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string> &args)
{
    CommandLine line;
    bool haveMode = false;
    bool haveSettings = false;
    bool onlyFiles = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (onlyFiles || arg.empty() || arg == "-" || arg[0] != '-') {
            line.files.push_back(arg);
            continue;
        }
        bool ok = true;
        if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "--send") {
            ok = SetMode(line, CommandLine::Mode::Send, haveMode);
        } else if (arg == "--check") {
            ok = SetMode(line, CommandLine::Mode::Check, haveMode);
        } else if (arg == "--authorize") {
            ok = SetMode(line, CommandLine::Mode::Authorize, haveMode);
        } else if (arg == "--version") {
            ok = SetMode(line, CommandLine::Mode::Version, haveMode);
        } else if (arg == "--help" || arg == "-h") {
            ok = SetMode(line, CommandLine::Mode::Help, haveMode);
        } else if (arg == "--settings" || arg.starts_with("--settings=")) {
            if (haveSettings) {
                line.error = "--settings は一度だけ指定してください。";
                return line;
            }
            haveSettings = true;
            if (arg == "--settings")
                line.settings = i + 1 < args.size() ? args[++i] : "";
            else
                line.settings = arg.substr(std::string("--settings=").size());
            if (line.settings.empty()) {
                line.error = "--settings の後に設定ファイルのパスを指定してください。";
                return line;
            }
        } else {
            line.error = "不明なオプションです: " + arg;
            return line;
        }
        if (!ok)
            return line;
    }
    if (!haveMode)
        line.error = "--send、--check、--authorize、--version、--help のどれかを指定してください。";
    else if (line.mode == CommandLine::Mode::Send && line.files.empty())
        line.error = "--send の後に送信するファイルを指定してください。";
    else if (line.mode != CommandLine::Mode::Send && !line.files.empty())
        line.error = "ファイルは --send の後に指定してください: " + line.files.front();
    return line;
}

bool OnlyQtArguments(const std::vector<std::string> &args)
{
    // Qt's options that take a value, and those that stand alone. Qt takes
    // each with one dash or two.
    static const std::vector<std::string> withValue = {
        "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowicon", "qwindowtitle",       "session",       "style",  "stylesheet",
        "display",     "geometry",           "title",         "name",
    };
    static const std::vector<std::string> alone
        = { "reverse", "widgetcount", "nograb", "dograb", "sync" };
    auto known = [](const std::vector<std::string> &names, const std::string &name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.size() < 2 || arg[0] != '-' || arg == "--")
            return false;
        std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            if (!known(withValue, name.substr(0, equals)))
                return false;
        } else if (known(withValue, name)) {
            if (++i == args.size())
                return false;
        } else if (!known(alone, name)) {
            return false;
        }
    }
    return !args.empty();
}

int RunCommandLine(int argc, char **argv)
{
    Terminal terminal(stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
    const CommandLine line = ParseCommandLine({ argv + 1, argv + argc });
    if (!line.error.empty()) {
        terminal.Fail("kestlin: " + line.error + "\n使い方は kestlin --help で表示されます。");
        return kExitRefused;
    }
    switch (line.mode) {
    case CommandLine::Mode::Help:
        std::fputs(kUsage, stdout);
        return kExitDone;
    case CommandLine::Mode::Version:
        std::puts("Kestlin " KESTLIN_VERSION);
        return kExitDone;
    case CommandLine::Mode::Check:
        return RunCheck(line, terminal);
    case CommandLine::Mode::Authorize:
        return RunAuthorizeMode(line, terminal);
    case CommandLine::Mode::Send:
        break;
    }
    // Qt's core only (the lock names its holder by the application's name):
    // no platform plugin, no screen. Qt's own remarks (in English, such as a
    // missing XDG_RUNTIME_DIR under cron) are not for the user of a script.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    // A reader that goes away (kestlin --send ... | head -1) must not end the
    // submission half way, after the mail and before its logs.
    std::signal(SIGPIPE, SIG_IGN);
    return RunSend(line, terminal);
}

} // namespace kestlin
