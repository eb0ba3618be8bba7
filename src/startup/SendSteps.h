#pragma once
// The work behind the main window's "送信": the check of the attachment list,
// the nine steps of one submission and the driver that runs them. It reaches
// the screen only through Display and the list only through AttachmentList, so
// that a whole submission runs without a window (and, in the program, on a
// worker thread behind a progress window).
#include "common/timestamp.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestlin {

class Display;

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

private:
    void Announce(const std::string &step, const std::string &label);
    SendOutcome FailStep(const std::string &step, const std::string &errText, bool haveWorkSpace);

    Display &display_;
    AttachmentList &list_;
    std::string iniFilePath_;
    SendProgress *progress_ = nullptr;
    std::function<DateTime()> clock_;
    // The list's entries as the pre-check saw them: the steps read these, not
    // the control, so that they may run away from the list's thread.
    std::vector<std::string> entries_;
};

} // namespace kestlin
