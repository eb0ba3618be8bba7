#pragma once
// What the tests of the send pipeline share: a plain attachment list, settings
// files, the error logs of the program folder and the user's documents folder.
#include "common/timestamp.h"
#include "startup/SendSteps.h"

#include <map>
#include <string>
#include <vector>

namespace kestlin::test {

// The attachment list as the pipeline sees it, without a window.
class PlainList : public AttachmentList
{
public:
    explicit PlainList(std::vector<std::string> entries = {})
        : entries(std::move(entries))
        , selected(this->entries.size(), false)
    { }
    int Count() const override { return static_cast<int>(entries.size()); }
    std::string Entry(int index) const override { return entries.at(static_cast<size_t>(index)); }
    void SetSelected(int index, bool on) override { selected.at(static_cast<size_t>(index)) = on; }
    void Remove(int index) override
    {
        entries.erase(entries.begin() + index);
        selected.erase(selected.begin() + index);
    }
    void FocusAddButton() override { ++focusedAdd; }

    std::vector<std::string> entries;
    std::vector<bool> selected;
    int focusedAdd = 0;
};

// "[SECTION]" / "KEY=value" lines, in CP932 with CR LF, as the settings
// dialog leaves them; written byte by byte, without the settings class.
using IniSections = std::map<std::string, std::map<std::string, std::string>>;
void WriteIniByHand(const std::string &path, const IniSections &sections);

// A password as the settings file stores it: encrypted text without line breaks.
std::string Stored(const std::string &clear);

// Error logs of the program folder.
std::vector<std::string> ErrLogNames();
void RemoveErrLogs();
// The one error log that exists, as UTF-8; fails the test when there is not exactly one.
std::string OnlyErrLog();

// The folder that the documents-folder lookup answers for this test process
// (set up before anything asks); created empty by ResetDocumentsFolder.
std::string DocumentsFolder();
void ResetDocumentsFolder();

// A clock that starts at a fixed second and moves one second per read, so
// that a second read of the clock shows in every name made from it.
struct TickingClock
{
    DateTime next { 2026, 3, 5, 14, 7, 9 };
    int reads = 0;
    DateTime operator()();
};

// Names in a folder, sorted; empty when the folder cannot be read.
std::vector<std::string> FolderNames(const std::string &folder);
// Permission bits of a path.
unsigned ModeOf(const std::string &path);

} // namespace kestlin::test
