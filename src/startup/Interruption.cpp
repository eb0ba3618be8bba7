#include "startup/Interruption.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace kestlin::interruption {

namespace {

enum class Phase { Idle, Preparing, Mailing, Started };

// The one piece of process-wide state beyond the settings path: a signal
// belongs to the process, not to a window or a pipeline.
struct State
{
    std::mutex mutex;
    Phase phase = Phase::Idle;
    std::function<void()> cleanUp;
    int exitStatus = 0;
    std::atomic<bool> stop { false };
    int stoppedBy = 0;
    bool endAfterStop = false;
    int pipe[2] = { -1, -1 };
};

State &Shared()
{
    static State *state = new State; // never destroyed: the watcher may outlive main
    return *state;
}

constexpr int kSignals[] = { SIGTERM, SIGINT, SIGHUP };

// Only write() here: the watcher thread does the work.
void OnSignal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] ssize_t n = ::write(Shared().pipe[1], &byte, 1);
    errno = saved;
}

void Say(const char *text)
{
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

void Act(int sig)
{
    State &s = Shared();
    std::unique_lock lock(s.mutex);
    switch (s.phase) {
    case Phase::Idle:
        lock.unlock();
        std::signal(sig, SIG_DFL);
        ::kill(::getpid(), sig);
        return;
    case Phase::Preparing:
        s.stop = true;
        s.stoppedBy = sig;
        return;
    case Phase::Mailing:
        if (s.cleanUp)
            s.cleanUp();
        Say("中断しました。何も送信していません。\n");
        ::_exit(s.exitStatus);
    case Phase::Started:
        Say("中断しました。報告は受信側に届いている可能性があります。\n"
            "次に起動したときに、この送信について表示します。同じ報告を再送信しないでください。\n");
        ::_exit(s.exitStatus);
    }
}

void Watch()
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(Shared().pipe[0], &byte, 1);
        if (n == 1)
            Act(byte);
        else if (n < 0 && errno != EINTR)
            return;
    }
}

} // namespace

void Install(bool endAfterStop)
{
    static std::once_flag once;
    std::call_once(once, [endAfterStop] {
        State &s = Shared();
        s.endAfterStop = endAfterStop;
        if (::pipe2(s.pipe, O_CLOEXEC) != 0)
            return;
        std::thread(Watch).detach();
        struct sigaction action = {};
        action.sa_handler = &OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int sig : kSignals)
            ::sigaction(sig, &action, nullptr);
    });
}

void Preparing()
{
    State &s = Shared();
    std::lock_guard lock(s.mutex);
    s.phase = Phase::Preparing;
    s.stop = false;
    s.stoppedBy = 0;
}

void Mailing(std::function<void()> cleanUp, int exitStatus)
{
    State &s = Shared();
    std::lock_guard lock(s.mutex);
    s.phase = Phase::Mailing;
    s.cleanUp = std::move(cleanUp);
    s.exitStatus = exitStatus;
}

void MessageStarting(const std::function<void()> &whileHeld, int exitStatus)
{
    State &s = Shared();
    std::lock_guard lock(s.mutex);
    whileHeld();
    s.phase = Phase::Started;
    s.cleanUp = nullptr;
    s.exitStatus = exitStatus;
}

void Finished()
{
    State &s = Shared();
    std::unique_lock lock(s.mutex);
    s.phase = Phase::Idle;
    s.cleanUp = nullptr;
    s.stop = false;
    const int sig = s.endAfterStop ? s.stoppedBy : 0;
    s.stoppedBy = 0;
    lock.unlock();
    if (sig != 0) {
        std::signal(sig, SIG_DFL);
        ::kill(::getpid(), sig);
    }
}

bool StopRequested()
{
    return Shared().stop;
}

} // namespace kestlin::interruption
