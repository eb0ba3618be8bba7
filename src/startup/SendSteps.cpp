#include "startup/SendSteps.h"

#include "common/Display.h"
#include "common/atomicfile.h"
#include "common/basCommon.h"
#include "common/files.h"
#include "common/numbers.h"
#include "common/syserror.h"
#include "common/textfile.h"
#include "common/winnames.h"
#include "mail/OAuthSignIn.h"
#include "mail/clsMail.h"
#include "packaging/clsCab32.h"
#include "packaging/clsCryptFile.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsValues.h"
#include "settings/StoredPassword.h"
#include "startup/CommandLine.h"
#include "startup/Interruption.h"

#include <cerrno>
#include <climits>
#include <exception>
#include <filesystem>
#include <openssl/crypto.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin {

namespace {

// The body file the pipeline writes beside the reports, and the archive of both.
constexpr const char *kBodyFileName = "MAIN_TEXT.txt";
constexpr const char *kArchiveName = "TEMPU_FILE.cab";

constexpr const char *kEmptyList = "添付ファイルを指定してください。";
constexpr const char *kMissingFiles = "存在しないﾌｧｲﾙが添付ﾌｧｲﾙとして指定されています。\r\n"
                                      "ﾘｽﾄで選択されているﾌｧｲﾙを確認してください。";
constexpr const char *kNoIniFile
    = "設定ファイルが存在しません。\r\n設定ファイルを確認してください。";
constexpr const char *kNoIniFileTitle = "INIファイル存在エラー";
constexpr const char *kNoTempFolder = "作業ﾌｫﾙﾀﾞの指定に誤りがあります｡\r\n"
                                      "設定ﾌｧｲﾙの作業フォルダを確認してください。";
constexpr const char *kNoFreeWorkSpace = "作業ﾌｫﾙﾀﾞの指定に誤りがあります｡\r\n"
                                         "作業ﾌｫﾙﾀﾞを確認してください。";
constexpr const char *kNoSuchPath = "指定されたパスが存在しません。";
constexpr const char *kInterrupted = "中断しました。何も送信していません。";
// Beside the copies in a working folder: the lock of the run that made it,
// and the path of the record that may keep the folder after that run.
constexpr const char *kOwnerFile = ".owner";

// A log folder that is there, or made now. Another submission sharing the
// log folders may make it between the look and the making: that is success.
bool FolderInPlace(const std::string &folder, std::string &reason)
{
    return NameTaken(folder) || CreateFolder(folder, reason) || NameTaken(folder);
}

constexpr const char *kNoFreeFileName = "同じ名前のﾌｧｲﾙが処理数を超えています。\r\n"
                                        "ﾌｧｲﾙ名を変更してください。";

// The name under which a listed file goes into the working folder: its own,
// unless the receiving Windows would take it for a name already there (the
// body file's from the start), else the first free numbered one: report0.xls,
// report1.xls... A numbered name that Windows cannot hold ("LPT1.txt" from
// "LPT.txt") counts as taken. Empty when no number is left.
std::string FreeTargetName(const std::string &name, const std::set<std::string> &taken)
{
    // A name without "." numbers as name0, name1, ...: the whole name is the base.
    const size_t dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    std::string target = name;
    int32_t counter = 0;
    while (taken.contains(WindowsNameKey(target))
           || CheckWindowsName(target) == WindowsNameFault::DeviceName) {
        target = base + std::to_string(counter) + ext;
        if (counter == INT32_MAX)
            return "";
        ++counter;
    }
    return target;
}

// Sets the error text unless a more precise one is already there.
void Fail(std::string &errText, const std::string &reason)
{
    if (errText.empty())
        errText = reason;
}

// The class reported failure with an empty text: give the user something
// rather than an empty warning box.
std::string OrDescription(const std::string &classText, int errnum)
{
    return classText.empty() ? SystemErrorText(errnum) : classText;
}

// Runs a step's body under the step contract: the flag starts false, and
// anything thrown fails the step with its description.
template<class Body>
void RunStep(std::string &errText, bool &ok, Body &&body)
{
    ok = false;
    try {
        body();
    } catch (const std::exception &e) {
        ok = false;
        Fail(errText, e.what());
    }
}

// A password stored in the settings, under the step contract: the step fails
// with the reason when it cannot be decrypted.
bool DecryptStored(const std::string &stored, std::string &clear, std::string &errText)
{
    DecryptedPassword result = DecryptStoredPassword(stored);
    if (!result.ok) {
        Fail(errText, result.reason);
        return false;
    }
    clear = std::move(result.password);
    return true;
}

} // namespace

SendPipeline::SendPipeline(Display &display, AttachmentList &list, std::string iniFilePath)
    : display_(display)
    , list_(list)
    , iniFilePath_(std::move(iniFilePath))
    , clock_(&Now)
{ }

std::string SendPipeline::SuccessMessage(const DateTime &stamp)
{
    return "石油動態報告メッセージは、「" + FormatMessageStamp(stamp) + "」に送信されました。\r\n"
           + "着信確認情報は、Ｅ－ＭＡＩＬで送信されてきます。"
           + "Ｅ－ＭＡＩＬを確認してください。";
}

void SendPipeline::cmdSend_Click()
{
    if (!Begin())
        return;
    End(RunSteps());
}

bool SendPipeline::Begin()
{
    display_.SetWaitCursor(true);
    bool ok = false;
    FncChkFile(ok);
    if (!ok) {
        display_.SetWaitCursor(false);
        return false;
    }
    if (!OrdinaryFileExists(iniFilePath_)) {
        display_.ShowMessage(kNoIniFile, kAppTitle, MsgIcon::Exclamation);
        WriteErrLog(display_, kNoIniFile, kNoIniFileTitle);
        display_.SetWaitCursor(false);
        return false;
    }
    entries_.clear();
    for (int i = 0; i < list_.Count(); ++i)
        entries_.push_back(list_.Entry(i));
    return true;
}

SendOutcome SendPipeline::RunSteps()
{
    using StepFn = void (SendPipeline::*)(std::string &, bool &);
    struct Step
    {
        const char *name;
        const char *label;
        StepFn fn;
    };
    static const Step kBeforeStamp[] = {
        { "FncCrtWorkSpace", "作業ﾌｫﾙﾀﾞ作成中…", &SendPipeline::FncCrtWorkSpace },
        { "FncMoveFile", "ﾌｧｲﾙｺﾋﾟｰ中…", &SendPipeline::FncMoveFile },
        { "FncCrtText", "本文作成中…", &SendPipeline::FncCrtText },
        { "FncCompress", "圧縮中…", &SendPipeline::FncCompress },
    };

    recordPath_ = SubmissionRecordPath(iniFilePath_);
    claimed_ = started_ = false;
    suffix_.clear();
    interruption::Preparing();
    bool haveWorkSpace = false;
    for (const Step &step : kBeforeStamp) {
        std::string errText;
        bool ok = false;
        Announce(step.name, step.label);
        (this->*step.fn)(errText, ok);
        if (!ok)
            return FailStep(step.name, errText, haveWorkSpace);
        haveWorkSpace = true;
        if (interruption::StopRequested())
            return FailStep(step.name, kInterrupted, true);
    }

    // The submission's time stamp: the mailed file's name, the submission
    // log's name and the success message all show this second. (The folder
    // FncMoveLog copies the work files into reads the clock again, later.)
    const DateTime stamp = clock_();
    ClaimNames(stamp);
    for (const char *name : { "FncFixFileName", "FncEncrypt" }) {
        std::string errText;
        bool ok = false;
        if (name == std::string("FncFixFileName")) {
            Announce(name, "ﾌｧｲﾙ名設定中…");
            FncFixFileName(stamp, errText, ok);
        } else {
            Announce(name, "暗号化中…");
            FncEncrypt(errText, ok);
        }
        if (!ok)
            return FailStep(name, errText, true);
        if (interruption::StopRequested())
            return FailStep(name, kInterrupted, true);
    }

    record_ = {};
    record_.stamp = stamp;
    record_.suffix = suffix_;
    record_.attachment = strSendFile;
    record_.workSpace = strWorkSpace;
    record_.attachmentLog = claimedFolder_;
    record_.files = entries_;
    record_.server = ReadSetting(iniFilePath_, SettingKey::MailSmtp) + ":"
                     + ReadSetting(iniFilePath_, SettingKey::MailPort);
    if (SendOutcome failed = Mail(); failed.kind != SendOutcome::Kind::Sent)
        return failed;
    return WriteLogs(stamp);
}

// The mailing step under the record: "prepared" before it, "started" with
// the message's first byte, "accepted" before any log step.
SendOutcome SendPipeline::Mail()
{
    std::string errText;
    bool ok = false;
    Announce("FncSendMail", "送信中…");
    record_.state = SubmissionRecord::State::Prepared;
    if (!WriteSubmissionRecordUnsynced(recordPath_, record_, errText))
        return FailStep("FncSendMail", errText, true);
    // The disk catches up while the library connects; the message waits for it.
    recordSynced_ = std::async(std::launch::async, [path = recordPath_] {
        std::string reason;
        SyncSubmissionRecord(path, reason);
        return reason;
    });
    interruption::Mailing(
        [workSpace = strWorkSpace, record = recordPath_,
         folder = claimed_ ? claimedFolder_ : std::string()] {
            std::string ignored;
            DelFolder(workSpace, ignored);
            if (!folder.empty())
                ::rmdir(folder.c_str());
            RemoveSubmissionRecord(record, ignored);
        },
        kExitNotSent);
    FncSendMail(errText, ok);
    if (recordSynced_.valid())
        recordSynced_.get();
    if (!ok) {
        interruption::Finished();
        if (static_cast<MailDelivery>(delivery_) == MailDelivery::Unknown && started_) {
            WriteErrLog(display_, errText, "FncSendMail");
            record_.state = SubmissionRecord::State::Started;
            return { SendOutcome::Kind::MaybeSent,
                     "メールサーバーから送信結果の応答がありませんでした。\r\n" + errText + "\r\n"
                         + KeepUnconfirmed(record_),
                     "FncSendMail" };
        }
        std::string ignored;
        RemoveSubmissionRecord(recordPath_, ignored);
        return FailStep("FncSendMail", errText, true);
    }
    // Without this mark a crash would leave a record that cannot tell
    // "accepted" from "may have been"; the logs go on all the same.
    Mark(SubmissionRecord::State::Accepted);
    return { SendOutcome::Kind::Sent, {}, {} };
}

// Both log steps run whatever the other did; the working folder and the
// record go only when both are written.
SendOutcome SendPipeline::WriteLogs(const DateTime &stamp)
{
    std::string reasons;
    if (!record_.attachmentLogDone) {
        std::string errText;
        bool ok = false;
        Announce("FncMoveLog", "添付ﾌｧｲﾙLOG保存中…");
        FncMoveLog(errText, ok);
        if (ok)
            record_.attachmentLogDone = true;
        else {
            WriteErrLog(display_, errText, "FncMoveLog");
            reasons += "添付ﾌｧｲﾙLOG: " + errText + "\r\n";
        }
    }
    const std::string message = SuccessMessage(stamp);
    if (!record_.submissionLogDone) {
        std::string errText;
        bool ok = false;
        Announce("FncCrtLogFile", "送信LOG作成中…");
        FncCrtLogFile(message, stamp, errText, ok);
        if (ok)
            record_.submissionLogDone = true;
        else {
            WriteErrLog(display_, errText, "FncCrtLogFile");
            reasons += "送信LOG: " + errText + "\r\n";
        }
    }
    std::string reason;
    if (!reasons.empty()) {
        if (!Record(SubmissionRecord::State::Accepted, reason))
            WriteErrLog(display_, reason, "FncMoveLog");
        interruption::Finished();
        return { SendOutcome::Kind::LogsMissing, LogsMissingText(reasons),
                 record_.attachmentLogDone ? "FncCrtLogFile" : "FncMoveLog" };
    }
    if (!DelFolder(strWorkSpace, reason))
        WriteErrLog(display_, reason, "FncMoveLog");
    if (!RemoveSubmissionRecord(recordPath_, reason))
        WriteErrLog(display_, reason, "FncCrtLogFile");
    interruption::Finished();
    return { SendOutcome::Kind::Sent, message, {} };
}

std::string SendPipeline::LogsMissingText(const std::string &reasons) const
{
    return "メールは送信しましたが、LOGの記録に失敗しました。\r\n" + reasons
           + "送信した報告のコピーは「" + strWorkSpace + "」に残してあります。\r\n"
           + "原因を取り除いてから起動すると、LOGを作成します。\r\n"
           + "同じ報告を再送信しないでください。";
}

// Moves the working folder out of the way of the clean-up of abandoned
// folders, removes the record and says where the copies are.
std::string SendPipeline::KeepUnconfirmed(const SubmissionRecord &record)
{
    std::string kept = record.workSpace;
    const std::string target
        = JoinPath(std::filesystem::path(record.workSpace).parent_path().string(),
                   "UNCONFIRMED_" + FormatLogFolderStamp(record.stamp) + record.suffix);
    if (FolderExists(record.workSpace) && !NameTaken(target)
        && ::rename(record.workSpace.c_str(), target.c_str()) == 0)
        kept = target;
    std::string reason;
    RemoveSubmissionRecord(recordPath_, reason);
    std::string files;
    for (const std::string &file : record.files)
        files += "  " + file + "\r\n";
    return "報告が受信側に届いたかどうか分かりません。\r\n"
           "送信日時: "
           + FormatMessageStamp(record.stamp) + "\r\n" + "メールサーバー: " + record.server + "\r\n"
           + "ファイル:\r\n" + files
           + "同じ報告を再送信する前に、受信側に届いたかどうか"
             "（着信確認のＥ－ＭＡＩＬなど）を確認してください。\r\n"
           + "送信した報告のコピーは「" + kept + "」に残してあります。";
}

void SendPipeline::Mark(SubmissionRecord::State state)
{
    record_.state = state;
    std::string reason;
    if (!MarkSubmissionRecord(recordPath_, state, reason))
        WriteErrLog(display_, reason, "FncSendMail");
}

bool SendPipeline::Record(SubmissionRecord::State state, std::string &reason)
{
    record_.state = state;
    return WriteSubmissionRecord(recordPath_, record_, reason);
}

std::string SendPipeline::ReportFolder(bool &fallback) const
{
    std::string logFolder = ReadSetting(iniFilePath_, SettingKey::SystemLog);
    fallback = !NameTaken(logFolder);
    if (fallback) {
        logFolder = GetSpecialFolder(kDocumentsFolder);
        // Without a documents folder the log would land at the root.
        if (logFolder.empty())
            return {};
    }
    return JoinPath(logFolder, "SEKIYU_REPORT");
}

// Chooses the first suffix whose submission log and attachment-log folder are
// both free, and takes the folder at once (mkdir is atomic), so that another
// copy in the same second moves on to the next suffix.
void SendPipeline::ClaimNames(const DateTime &stamp)
{
    suffix_.clear();
    claimedFolder_.clear();
    claimed_ = false;
    const std::string tempLog = ReadSetting(iniFilePath_, SettingKey::SystemTempLog);
    std::string ignored;
    if (!NameTaken(tempLog))
        CreateFolder(tempLog, ignored);
    bool fallback = false;
    const std::string reportFolder = ReportFolder(fallback);
    for (int n = 1; n < 1000; ++n) {
        const std::string suffix = n == 1 ? "" : "_" + std::to_string(n);
        const std::string folder = JoinPath(tempLog, FormatLogFolderStamp(stamp) + suffix);
        if (!reportFolder.empty()
            && NameTaken(
                JoinPath(reportFolder, "R_MESS" + FormatLogStamp(stamp) + suffix + ".txt")))
            continue;
        suffix_ = suffix;
        claimedFolder_ = folder;
        if (::mkdir(folder.c_str(), 0777) == 0) {
            claimed_ = true;
            return;
        }
        if (errno != EEXIST)
            return; // the attachment-log step will say why
    }
}

void SendPipeline::ReleaseClaim()
{
    if (claimed_)
        ::rmdir(claimedFolder_.c_str());
    claimed_ = false;
}

SendPipeline::Recovery SendPipeline::RecoverEarlier()
{
    recordPath_ = SubmissionRecordPath(iniFilePath_);
    SubmissionRecord record;
    std::string reason;
    switch (ReadSubmissionRecord(recordPath_, record, reason)) {
    case RecordFound::None:
        return Recovery::None;
    case RecordFound::Unreadable:
        display_.ShowMessage("前回の送信の記録を読めません。\r\n" + reason + "\r\n"
                                 + "送信LOGと受信側で、前回の報告が届いたかどうかを確認してから、"
                                   "この記録を削除してください。",
                             kAppTitle, MsgIcon::Exclamation);
        return Recovery::Failed;
    case RecordFound::Found:
        break;
    }
    switch (record.state) {
    case SubmissionRecord::State::Prepared: {
        // Ended before its message started: nothing was sent, nothing to say.
        DelFolder(record.workSpace, reason);
        if (!record.attachmentLog.empty())
            ::rmdir(record.attachmentLog.c_str());
        RemoveSubmissionRecord(recordPath_, reason);
        return Recovery::None;
    }
    case SubmissionRecord::State::Started: {
        const std::string text = "前回の送信は途中で終了しました。\r\n" + KeepUnconfirmed(record);
        WriteErrLog(display_, text, "FncSendMail");
        display_.ShowMessage(text, kAppTitle, MsgIcon::Exclamation);
        return Recovery::Unconfirmed;
    }
    case SubmissionRecord::State::Accepted:
        break;
    }
    record_ = record;
    strWorkSpace = record.workSpace;
    strSendFile = record.attachment;
    suffix_ = record.suffix;
    claimedFolder_ = record.attachmentLog;
    claimed_ = false;
    // Copies removed by hand cannot be logged; waiting for them would keep
    // every later run from sending. The submission log is still written.
    std::string gone;
    if (!record_.attachmentLogDone && !FolderExists(JoinPath(strWorkSpace, "Temp"))) {
        record_.attachmentLogDone = true;
        gone = "\r\n送信した報告のコピー（" + strWorkSpace
               + "）がなくなっていたため、添付ﾌｧｲﾙLOGは作成できませんでした。";
    }
    const SendOutcome outcome = WriteLogs(record.stamp);
    const std::string when = "前回の送信（" + FormatMessageStamp(record.stamp) + "）は、";
    if (outcome.kind == SendOutcome::Kind::Sent) {
        display_.ShowMessage(when + "メールサーバーに受け付けられていました。\r\n"
                                 + "LOGの記録の前に終了していたため、送信LOGと添付ﾌｧｲﾙLOGを"
                                   "今回作成しました。\r\n同じ報告を再送信しないでください。"
                                 + gone,
                             kAppTitle, gone.empty() ? MsgIcon::Information : MsgIcon::Exclamation);
        return Recovery::Completed;
    }
    display_.ShowMessage(when + "メールサーバーに受け付けられていました。\r\n" + outcome.message,
                         kAppTitle, MsgIcon::Exclamation);
    return Recovery::Failed;
}

SendOutcome SendPipeline::FailStep(const std::string &step, const std::string &errText,
                                   bool haveWorkSpace)
{
    WriteErrLog(display_, errText, step);
    if (haveWorkSpace) {
        std::string ignored;
        DelFolder(strWorkSpace, ignored);
    }
    ReleaseClaim();
    // Last: a signal that stopped the submission may end the program here.
    interruption::Finished();
    return { SendOutcome::Kind::StepFailed, errText, step };
}

void SendPipeline::End(const SendOutcome &outcome)
{
    switch (outcome.kind) {
    case SendOutcome::Kind::Stopped:
        break;
    case SendOutcome::Kind::StepFailed:
    case SendOutcome::Kind::MaybeSent:
        display_.SetWaitCursor(false);
        display_.ShowMessage(outcome.message, kAppTitle, MsgIcon::Exclamation);
        break;
    case SendOutcome::Kind::LogsMissing:
        // The mail went: an emptied list keeps it from being sent again by mistake.
        display_.SetWaitCursor(false);
        display_.ShowMessage(outcome.message, kAppTitle, MsgIcon::Exclamation);
        FncClrList();
        break;
    case SendOutcome::Kind::Sent:
        display_.SetWaitCursor(false);
        display_.ShowMessage(outcome.message, kAppTitle, MsgIcon::Information);
        FncClrList();
        break;
    }
}

void SendPipeline::Announce(const std::string &step, const std::string &label)
{
    if (progress_)
        progress_->StepStarted(step, label);
}

void SendPipeline::FncChkFile(bool &ok)
{
    ok = false;
    try {
        const int count = list_.Count();
        if (count == 0) {
            display_.ShowMessage(kEmptyList, kAppTitle, MsgIcon::Exclamation);
            return;
        }
        bool missing = false;
        for (int i = 0; i < count; ++i) {
            const bool exists = OrdinaryFileExists(list_.Entry(i));
            list_.SetSelected(i, !exists);
            missing = missing || !exists;
        }
        if (missing) {
            display_.ShowMessage(kMissingFiles, kAppTitle, MsgIcon::Exclamation);
            return;
        }
        ok = true;
    } catch (const std::exception &e) {
        ok = false;
        display_.ShowMessage(e.what(), kAppTitle, MsgIcon::Exclamation);
    }
}

void SendPipeline::FncClrList()
{
    try {
        for (int i = list_.Count() - 1; i >= 0; --i)
            list_.Remove(i);
        list_.FocusAddButton();
    } catch (const std::exception &) {
        // Nothing is reported: the submission has already been confirmed.
    }
}

void SendPipeline::FncCrtWorkSpace(std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        strWorkSpace.clear();
        const std::string temp = ReadSetting(iniFilePath_, SettingKey::SystemTemp);
        if (!NameTaken(temp)) {
            errText = kNoTempFolder;
            return;
        }
        std::string candidate = JoinPath(temp, "WorkSpace");
        for (int32_t counter = 0;; ++counter) {
            std::string reason;
            // Owner only: the folder will hold the clear password. A name that
            // another submission with the same work folder took after the
            // look is passed over like one taken before it.
            const bool made = !NameTaken(candidate) && CreateFolder(candidate, reason, 0700);
            if (!made && !reason.empty() && !NameTaken(candidate)) {
                Fail(errText, reason);
                return;
            }
            if (made) {
                strWorkSpace = candidate;
                // The run's lock, and the record that may keep the folder
                // after the run: read by the next start of any settings file
                // that shares this work folder.
                int error = 0;
                if (!ownerLock_.empty()
                    && !ReplaceFileAtomically(JoinPath(candidate, kOwnerFile),
                                              ownerLock_ + "\n" + recordPath_ + "\n", error)) {
                    Fail(errText, SystemErrorText(error));
                    return;
                }
                ok = true;
                return;
            }
            // The digits go onto the last candidate: WorkSpace, WorkSpace0, WorkSpace01, ...
            candidate += std::to_string(counter);
            if (counter == INT32_MAX) {
                errText = kNoFreeWorkSpace;
                return;
            }
        }
    });
}

void SendPipeline::FncMoveFile(std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        const std::string tempFolder = JoinPath(strWorkSpace, "Temp");
        std::string reason;
        if (!CreateFolder(tempFolder, reason)) {
            Fail(errText, reason);
            return;
        }
        // Every name in the fresh folder, as Windows compares names.
        std::set<std::string> taken { WindowsNameKey(kBodyFileName) };
        for (const std::string &source : entries_) {
            const std::string target = FreeTargetName(FileNameOf(source), taken);
            if (target.empty()) {
                errText = kNoFreeFileName;
                return;
            }
            if (!CopyFileReplacing(source, JoinPath(tempFolder, target), reason)) {
                Fail(errText, reason);
                return;
            }
            taken.insert(WindowsNameKey(target));
        }
        ok = true;
    });
}

void SendPipeline::FncCrtText(std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        const std::string body = JoinPath(JoinPath(strWorkSpace, "Temp"), kBodyFileName);
        const std::string report = ReadSetting(iniFilePath_, SettingKey::UserHoukoku);
        const std::string userId = ReadSetting(iniFilePath_, SettingKey::UserUserId);
        const std::string stored = ReadSetting(iniFilePath_, SettingKey::UserPassword);
        const std::string replyTo = ReadSetting(iniFilePath_, SettingKey::UserMailAdress);
        std::string password;
        if (!DecryptStored(stored, password, errText))
            return;
        std::string reason;
        if (!WriteTextLine(body, report + "," + userId + "," + password + "," + replyTo, reason,
                           FileAccess::OwnerOnly)) {
            Fail(errText, reason);
            return;
        }
        ok = true;
    });
}

void SendPipeline::FncCompress(std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        clsCab32 cab;
        cab.OverWrite(true);
        cab.Silent(true);
        cab.InFile(JoinPath(strWorkSpace, "Temp"));
        cab.OutFile(JoinPath(strWorkSpace, kArchiveName));
        if (!cab.Cabcmp()) {
            Fail(errText, OrDescription(cab.GetErrMsg(), EIO));
            return;
        }
        ok = true;
    });
}

void SendPipeline::FncFixFileName(const DateTime &stamp, std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        const std::string userId = ReadSetting(iniFilePath_, SettingKey::UserUserId);
        strSendFile.clear();
        strSendFile = "TMP" + userId + FormatSendFileStamp(stamp) + suffix_ + ".txt";
        ok = true;
    });
}

void SendPipeline::FncEncrypt(std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        clsCryptFile crypt;
        crypt.InFile(JoinPath(strWorkSpace, kArchiveName));
        crypt.OutFile(JoinPath(strWorkSpace, strSendFile));
        crypt.Password(kFixedPassword);
        if (progress_) {
            crypt.Crypting
                = [this](int64_t done, int64_t total) { progress_->BytesDone(done, total); };
        }
        if (!crypt.Encrypt()) {
            Fail(errText, OrDescription(crypt.GetErrMsg(), EIO));
            return;
        }
        ok = true;
    });
}

std::string KnownServersPath(const std::string &iniFilePath)
{
    return (std::filesystem::path(iniFilePath).parent_path() / "known-servers.txt").string();
}

void SendPipeline::FncSendMail(std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        const std::string attachment = JoinPath(strWorkSpace, strSendFile);
        const std::string smtp = ReadSetting(iniFilePath_, SettingKey::MailSmtp);
        int64_t certify = 0;
        if (!ToInteger(ReadSetting(iniFilePath_, SettingKey::MailCertify, 1), INT16_MIN, INT16_MAX,
                       certify, errText))
            return;
        std::string account, password;
        if (certify == kCertifyOAuth) {
            // The password is an access token, fresh for this mailing.
            account = ReadSetting(iniFilePath_, SettingKey::MailUserId);
            if (!FreshAccessToken(iniFilePath_, password, errText))
                return;
        } else if (certify != 0) {
            account = ReadSetting(iniFilePath_, SettingKey::MailUserId);
            if (!DecryptStored(ReadSetting(iniFilePath_, SettingKey::MailPassword), password,
                               errText))
                return;
        }
        const std::string subject = ReadSetting(iniFilePath_, SettingKey::MailSubject);
        const std::string userId = ReadSetting(iniFilePath_, SettingKey::UserUserId);
        const std::string to = ReadSetting(iniFilePath_, SettingKey::MailMailAdress);
        const std::string portText = ReadSetting(iniFilePath_, SettingKey::MailPort);
        const std::string from = ReadSetting(iniFilePath_, SettingKey::UserMailAdress);
        int64_t port = 0;
        if (!ToInteger(portText, INT32_MIN, INT32_MAX, port, errText))
            return;
        // Absent, POP before SMTP uses the usual 110.
        int64_t popPort = 0;
        const std::string popPortText = ReadSetting(iniFilePath_, SettingKey::MailPopPort);
        if (certify == 1 && !popPortText.empty()
            && !ToInteger(popPortText, 0, 65535, popPort, errText))
            return;

        clsMail mail;
        mail.SetSMTP(smtp);
        // POP before SMTP signs in to the POP3 service of the SMTP host.
        mail.SetPOP(smtp);
        mail.SetPOPPort(static_cast<int32_t>(popPort));
        mail.SetUserId(account);
        mail.SetPassword(password);
        OPENSSL_cleanse(password.data(), password.size());
        mail.SetPort(static_cast<int32_t>(port));
        mail.SetCertify(static_cast<int16_t>(certify));
        mail.SetSubject(subject);
        mail.SetMain(userId + "," + from + "\r\n\r\n\r\n");
        mail.AddFile(attachment + "|" + strSendFile + "|application/octet-stream");
        mail.AddTo(to);
        mail.SetFrom(from);
        // The first report comes before the message's first byte: the record
        // says "started" before anything of the message can reach the server.
        mail.Sending = [this](int64_t sent, int64_t total) {
            if (!started_) {
                started_ = true;
                interruption::MessageStarting(
                    [this] {
                        if (recordSynced_.valid()) {
                            if (const std::string reason = recordSynced_.get(); !reason.empty())
                                WriteErrLog(display_, reason, "FncSendMail");
                        }
                        Mark(SubmissionRecord::State::Started);
                    },
                    kExitLogFailed);
            }
            if (progress_)
                progress_->BytesDone(sent, total);
        };
        mail.SetKnownServers(KnownServersPath(iniFilePath_));
        mail.TrustCertificate = [this](const ServerCertificate &certificate) {
            return display_.ShowMessage(TrustQuestion(certificate), kAppTitle, MsgIcon::Question,
                                        MsgButtons::YesNo)
                   == MsgResult::Yes;
        };
        delivery_ = static_cast<int>(MailDelivery::NotSent);
        const bool sent = mail.Send();
        delivery_ = static_cast<int>(mail.GetDelivery());
        // Told once the server is done with us: the send went on regardless.
        for (const std::string &notice : mail.GetNotices())
            display_.ShowMessage(notice, kAppTitle, MsgIcon::Exclamation, MsgButtons::Ok);
        if (!sent) {
            Fail(errText, OrDescription(mail.GetErrMsg(), EIO));
            return;
        }
        ok = true;
    });
}

void SendPipeline::FncMoveLog(std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        const std::string source = JoinPath(strWorkSpace, "Temp");
        const std::string tempLog = ReadSetting(iniFilePath_, SettingKey::SystemTempLog);
        std::string reason;
        if (!FolderInPlace(tempLog, reason)) {
            Fail(errText, reason);
            return;
        }
        const std::string folder = claimedFolder_.empty()
                                       ? JoinPath(tempLog, FormatLogFolderStamp(clock_()))
                                       : claimedFolder_;
        if (!FolderInPlace(folder, reason)) {
            Fail(errText, reason);
            return;
        }
        // The copies are gone: an empty attachment log would hide that.
        if (!FolderExists(source)) {
            Fail(errText, kNoSuchPath);
            return;
        }
        std::vector<std::string> names;
        if (!ListOrdinaryFiles(source, names, reason)) {
            Fail(errText, reason);
            return;
        }
        for (const std::string &name : names) {
            const std::string copy = JoinPath(folder, name);
            if (!CopyFileReplacing(JoinPath(source, name), copy, reason)) {
                Fail(errText, reason);
                return;
            }
            // The body's copy holds the clear password, whatever mode an
            // earlier file of that name had.
            if (name == kBodyFileName && ::chmod(copy.c_str(), 0600) != 0) {
                Fail(errText, SystemErrorText(errno));
                return;
            }
        }
        // The working folder stays until the submission log is written too.
        ok = true;
    });
}

void SendPipeline::FncCrtLogFile(const std::string &message, const DateTime &stamp,
                                 std::string &errText, bool &ok)
{
    RunStep(errText, ok, [&] {
        bool fallback = false;
        const std::string reportFolder = ReportFolder(fallback);
        if (reportFolder.empty()) {
            Fail(errText, SystemErrorText(ENOENT));
            return;
        }
        std::string reason;
        if (!FolderInPlace(reportFolder, reason)) {
            Fail(errText, reason);
            return;
        }
        const std::string logFile
            = JoinPath(reportFolder, "R_MESS" + FormatLogStamp(stamp) + suffix_ + ".txt");
        if (OrdinaryFileExists(logFile) && ::unlink(logFile.c_str()) != 0) {
            Fail(errText, SystemErrorText(errno));
            return;
        }
        if (!WriteTextLine(logFile, message, reason)) {
            Fail(errText, reason);
            return;
        }
        if (fallback) {
            display_.ShowMessage("ﾛｸﾞﾌｧｲﾙを出力するﾌｫﾙﾀﾞの指定に誤りがあります。\r\n"
                                 "設定ﾌｧｲﾙを確認してください。\r\n"
                                 "ﾛｸﾞﾌｧｲﾙは"
                                     + reportFolder + "に出力されました。",
                                 kAppTitle, MsgIcon::Information);
        }
        ok = true;
    });
}

} // namespace kestlin
