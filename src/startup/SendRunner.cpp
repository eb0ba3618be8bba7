#include "startup/SendRunner.h"

#include "common/Display.h"
#include "common/Guarded.h"
#include "startup/KestlinStart.h"
#include "startup/SendSteps.h"
#include "startup/frmProgress.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QPointer>
#include <QThread>
#include <exception>
#include <filesystem>
#include <optional>

namespace kestlin {

namespace {

class QtAttachmentList : public AttachmentList
{
public:
    QtAttachmentList(QListWidget *list, QAbstractButton *addButton)
        : list_(list)
        , addButton_(addButton)
    { }
    int Count() const override { return list_->count(); }
    std::string Entry(int index) const override { return list_->item(index)->text().toStdString(); }
    void SetSelected(int index, bool selected) override
    {
        list_->item(index)->setSelected(selected);
    }
    void Remove(int index) override { delete list_->takeItem(index); }
    void FocusAddButton() override
    {
        if (addButton_)
            addButton_->setFocus();
    }

private:
    QListWidget *list_;
    QAbstractButton *addButton_;
};

// Passes every call to the window's display on the window's thread, waiting
// for the answer, so that a message a step shows appears in order and modal.
class GuiThreadDisplay : public Display
{
public:
    GuiThreadDisplay(Display &display, QObject *guiObject)
        : display_(display)
        , guiObject_(guiObject)
    { }

    MsgResult ShowMessage(const std::string &text, const std::string &title, MsgIcon icon,
                          MsgButtons buttons) override
    {
        MsgResult result = MsgResult::Ok;
        OnGuiThread([&] { result = display_.ShowMessage(text, title, icon, buttons); });
        return result;
    }
    void SetWaitCursor(bool wait) override
    {
        OnGuiThread([&] { display_.SetWaitCursor(wait); });
    }
    std::optional<std::string> ChooseExistingFile(const std::string &title) override
    {
        std::optional<std::string> chosen;
        OnGuiThread([&] { chosen = display_.ChooseExistingFile(title); });
        return chosen;
    }
    std::optional<std::string> ChooseFolder(const std::string &title) override
    {
        std::optional<std::string> chosen;
        OnGuiThread([&] { chosen = display_.ChooseFolder(title); });
        return chosen;
    }

private:
    template<class F>
    void OnGuiThread(F &&call)
    {
        if (QThread::currentThread() == guiObject_->thread())
            call();
        else
            QMetaObject::invokeMethod(guiObject_, call, Qt::BlockingQueuedConnection);
    }

    Display &display_;
    QObject *guiObject_;
};

// Forwards the steps' progress to the window, at most once per thousandth of
// the file, so that a block-by-block report cannot flood the event queue.
class WindowProgress : public SendProgress
{
public:
    explicit WindowProgress(frmProgress *window)
        : window_(window)
    { }

    void StepStarted(const std::string &, const std::string &label) override
    {
        lastPermille_ = -1;
        const QString text = QString::fromStdString(label);
        QMetaObject::invokeMethod(
            window_, [w = window_, text] { w->SetStep(text); }, Qt::QueuedConnection);
    }
    void BytesDone(int64_t done, int64_t total) override
    {
        const int64_t permille = total > 0 ? done * 1000 / total : 1000;
        if (permille == lastPermille_)
            return;
        lastPermille_ = permille;
        QMetaObject::invokeMethod(
            window_, [w = window_, done, total] { w->SetBytes(done, total); },
            Qt::QueuedConnection);
    }

private:
    QPointer<frmProgress> window_;
    int64_t lastPermille_ = -1;
};

} // namespace

void RunSendWithProgress(const SendWindowParts &parts)
{
    frmProgress progressWindow(parts.owner);
    GuiThreadDisplay display(*parts.display, &progressWindow);
    QtAttachmentList list(parts.list, parts.addButton);
    SendPipeline pipeline(display, list, parts.iniFilePath);
    pipeline.strWorkSpace = *parts.strWorkSpace;
    pipeline.strSendFile = *parts.strSendFile;
    pipeline.OwnerLock(InstanceLock::LockFilePath(
        std::filesystem::path(parts.iniFilePath).parent_path().string()));

    if (!pipeline.Begin())
        return;

    WindowProgress progress(&progressWindow);
    pipeline.Progress(&progress);
    SendOutcome outcome;
    QThread *worker = QThread::create([&] {
        // Nothing may leave the worker thread: that would end the program.
        try {
            outcome = pipeline.RunSteps();
        } catch (const std::exception &e) {
            outcome = { SendOutcome::Kind::StepFailed, e.what(), {} };
        } catch (...) {
            outcome = { SendOutcome::Kind::StepFailed, kUnknownFailure, {} };
        }
    });
    QObject::connect(worker, &QThread::finished, &progressWindow, &frmProgress::Finish);
    worker->start();
    progressWindow.exec();
    worker->wait();
    delete worker;
    pipeline.Progress(nullptr);

    *parts.strWorkSpace = pipeline.strWorkSpace;
    *parts.strSendFile = pipeline.strSendFile;
    pipeline.End(outcome);
}

} // namespace kestlin
