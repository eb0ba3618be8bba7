#pragma once
// The work behind the main window's "送信": the check of the attachment list,
// the nine steps of one submission and the driver that runs them. It reaches
// the screen only through Display and the list only through AttachmentList, so
// that a whole submission runs without a window (and, in the program, on a
// worker thread behind a progress window).
#include "common/timestamp.h"
#include "startup/SubmissionRecord.h"

#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace kestlin {

class Display;

// known-servers.txt, the servers the mailing step trusts: beside the settings
// file, so that another settings file brings its own.
std::string KnownServersPath(const std::string &iniFilePath);

// What the pipeline needs of the attachment list control. Called only from the
// thread that owns the list.
class AttachmentList
{
public:
    virtual ~AttachmentList() = default;
    virtual int Count() const = 0;
    // The entry's text: the full path of a file.
    virtual std::string Entry(int index) const = 0;
    virtual void SetSelected(int index, bool selected) = 0;
    virtual void Remove(int index) = 0;
    // Keyboard focus to the add button, once the list has been emptied.
    virtual void FocusAddButton() = 0;
};

// No files: for work that sends nothing, such as finishing an earlier run.
class NoAttachments : public AttachmentList
{
public:
    int Count() const override { return 0; }
    std::string Entry(int) const override { return {}; }
    void SetSelected(int, bool) override { }
    void Remove(int) override { }
    void FocusAddButton() override { }
};

// Told where a running submission is; called on the thread that runs the steps.
class SendProgress
{
public:
    virtual ~SendProgress() = default;
    // A step begins; label is what the user reads ("圧縮中…").
    virtual void StepStarted(const std::string &step, const std::string &label) = 0;
    // Bytes of the current step done so far of the total: of the file being
    // encrypted, of the message being mailed.
    virtual void BytesDone(int64_t done, int64_t total) = 0;
};

// How a submission ended, once the steps have run.
struct SendOutcome
{
    enum class Kind {
        Stopped, // the pre-checks refused; their message has been shown
        StepFailed, // a step failed; message is its error text (already logged)
        Sent, // message is the success message
        MaybeSent, // no final reply to the message: it may have been delivered
        LogsMissing, // the server accepted the mail but a log could not be written
    };
    Kind kind = Kind::Stopped;
    std::string message;
    std::string step; // the step that failed, by its name ("FncSendMail")
};

class SendPipeline
{
public:
    SendPipeline(Display &display, AttachmentList &list, std::string iniFilePath);

    void Progress(SendProgress *progress) { progress_ = progress; }
    // The clock read for the time stamps; the system clock unless a test sets one.
    void Clock(std::function<DateTime()> clock) { clock_ = std::move(clock); }

    // Where the lock of this run lives: written into each working folder, so
    // that a later start can tell a folder whose run has died.
    void OwnerLock(std::string lockPath) { ownerLock_ = std::move(lockPath); }

    // One press of "送信", start to end, on the calling thread.
    void cmdSend_Click();

    // The press in three parts, for a caller that runs the steps elsewhere:
    // Begin and End on the list's thread, RunSteps on any thread (messages it
    // shows go through the display, in order).
    bool Begin();
    SendOutcome RunSteps();
    void End(const SendOutcome &outcome);

    void FncChkFile(bool &ok);
    void FncClrList();

    void FncCrtWorkSpace(std::string &errText, bool &ok);
    void FncMoveFile(std::string &errText, bool &ok);
    void FncCrtText(std::string &errText, bool &ok);
    void FncCompress(std::string &errText, bool &ok);
    void FncFixFileName(const DateTime &stamp, std::string &errText, bool &ok);
    void FncEncrypt(std::string &errText, bool &ok);
    void FncSendMail(std::string &errText, bool &ok);
    void FncMoveLog(std::string &errText, bool &ok);
    void FncCrtLogFile(const std::string &message, const DateTime &stamp, std::string &errText,
                       bool &ok);

    // The success message for a submission time stamp.
    static std::string SuccessMessage(const DateTime &stamp);

    // The working folder of the current submission, without a trailing "/".
    std::string strWorkSpace;
    // File name (without folder) of the encrypted archive that is mailed.
    std::string strSendFile;

    // What a record left by an earlier run needed, once dealt with.
    enum class Recovery {
        None, // no record, or one of a run that had sent nothing
        Completed, // it had been accepted: its logs are now complete
        Unconfirmed, // its message had started without a reply: told, copies kept
        Failed, // accepted, but its logs still cannot be written: the record stays
    };
    // Deals with the record an earlier run left and tells the user in one
    // message. Runs before anything else of a run that holds the lock.
    Recovery RecoverEarlier();

    // The suffix that keeps this submission's names apart from an earlier
    // one of the same second: "" for the first, then "_2", "_3"...
    const std::string &NameSuffix() const { return suffix_; }

private:
    void Announce(const std::string &step, const std::string &label);
    SendOutcome FailStep(const std::string &step, const std::string &errText, bool haveWorkSpace);
    void ClaimNames(const DateTime &stamp);
    std::string ReportFolder(bool &fallback) const;
    bool Record(SubmissionRecord::State state, std::string &reason);
    void Mark(SubmissionRecord::State state);
    void ReleaseClaim();
    SendOutcome Mail();
    SendOutcome WriteLogs(const DateTime &stamp);
    std::string KeepUnconfirmed(const SubmissionRecord &record);
    std::string LogsMissingText(const std::string &reasons) const;

    Display &display_;
    AttachmentList &list_;
    std::string iniFilePath_;
    SendProgress *progress_ = nullptr;
    std::function<DateTime()> clock_;
    // The list's entries as the pre-check saw them: the steps read these, not
    // the control, so that they may run away from the list's thread.
    std::vector<std::string> entries_;
    std::string ownerLock_;
    std::string suffix_;
    std::string recordPath_;
    SubmissionRecord record_;
    std::string claimedFolder_; // the attachment-log folder chosen for this submission
    bool claimed_ = false; // ... and made by it
    bool started_ = false; // the message has started
    std::future<std::string> recordSynced_; // the reason when syncing the record failed
    int delivery_ = 0; // MailDelivery of the last FncSendMail
};

} // namespace kestlin
