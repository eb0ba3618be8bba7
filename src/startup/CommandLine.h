#pragma once
// The program started with arguments: one submission, a check of the
// settings, the version or the usage, on the terminal and without a window,
// so that it also runs from a script or a timer with no screen at all. Started
// without arguments the program shows its main window instead.
#include <string>
#include <vector>

namespace kestlin {

// What a script can act on. Scripts and the user guide rely on these numbers:
// they never change.
enum ExitCode : int {
    kExitDone = 0, // sent and logged; --check: the settings pass; --version, --help
    kExitRefused = 2, // refused before anything was sent: arguments, files, settings, libraries
    kExitNotSent = 3, // a step failed before the mail went out: nothing was sent;
                      // --authorize: not authorized
    kExitLogFailed = 4, // the mail was (or may have been) sent but its logs were not kept:
                        // do not send it again
    kExitRunning = 5, // another copy uses the same settings: nothing was done
    kExitEarlierRun = 6, // an earlier submission had been cut short: it was dealt with
                         // and reported; nothing was sent this time
};

struct CommandLine
{
    enum class Mode { Send, Check, Authorize, Version, Help };
    Mode mode = Mode::Help;
    std::vector<std::string> files; // as given, in order
    std::string settings; // empty: the settings file the window would use
    std::string error; // why the arguments cannot be taken; then nothing else counts
};

// The arguments after the program's name.
CommandLine ParseCommandLine(const std::vector<std::string> &args);

// True when every argument is one of Qt's own options for a window (such as
// -platform wayland, -style Fusion, -reverse, --display :1), each with its
// value: the program then opens its window and hands them to Qt. Any other
// argument, or none, is for the command line.
bool OnlyQtArguments(const std::vector<std::string> &args);

// Runs the arguments after argv[0] and returns the exit status. Needs neither
// a screen nor Qt's platform plugin.
int RunCommandLine(int argc, char **argv);

} // namespace kestlin
