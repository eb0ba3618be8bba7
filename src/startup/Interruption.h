#pragma once
// SIGTERM, SIGINT and SIGHUP while a submission runs. Before the mail the
// submission stops at the next step and removes its working folder; while
// the mail library connects (nothing of the message gone yet) the folder is
// removed and the program ends at once; once the message has started the
// program ends at once and the synced record is left for the next start.
// Outside a submission the signal ends the program as it always did.
#include <functional>
#include <string>

namespace kestlin {

namespace interruption {

// Installs the handlers (once per process). endAfterStop: a submission
// stopped by a signal before its mail ends the program once it has cleaned up
// (the window); otherwise the caller ends as it sees fit (the command line).
void Install(bool endAfterStop);

// A submission prepares its files: a signal asks it to stop.
void Preparing();
// The mailing step runs but no byte of the message has gone: a signal runs
// cleanUp (which removes the working folder and the record) and ends the
// program with exitStatus.
void Mailing(std::function<void()> cleanUp, int exitStatus);
// The message starts. Runs whileHeld with no signal acted on in between, so
// that the record says "started" before a byte goes or not at all. From
// here a signal ends the program with exitStatus, leaving the record.
void MessageStarting(const std::function<void()> &whileHeld, int exitStatus);
// The submission is over (whatever its end): signals act as outside one.
void Finished();

// A signal has asked the submission to stop before its mail.
bool StopRequested();

} // namespace interruption

} // namespace kestlin
