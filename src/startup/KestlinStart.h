#pragma once
// The entry procedure up to the shown main window.
#include <memory>
#include <string>

class QLockFile;

namespace kestlin {

class Display;
class frmKestlin_01;

// One running copy per settings folder (the program folder of a portable copy,
// the user's own folder of an installed one) and user. The lock is a file in
// the user's runtime folder; a lock left behind by a copy that crashed is taken
// over, one held by a running copy is not.
class InstanceLock
{
public:
    explicit InstanceLock(const std::string &settingsFolder);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // False when another running copy holds the lock, or when the lock
    // cannot be made at all: then Problem() says why, naming the folder.
    bool TryLock();
    const std::string &Problem() const { return problem_; }

    // Where the lock of the settings in that folder lives.
    static std::string LockFilePath(const std::string &settingsFolder);

private:
    std::unique_ptr<QLockFile> lock_;
    std::string path_;
    std::string problem_;
};

// Removes the working folders in the TEMP folder of the settings at
// iniFilePath whose run has ended without removing them (killed, or the power
// went): those that name a lock nobody holds, or the lock held by this run.
// The folder an unfinished submission record keeps stays. Call it holding
// ownLockPath, after the record has been dealt with.
void RemoveAbandonedWorkSpaces(const std::string &iniFilePath, const std::string &ownLockPath);

// Refuses a second copy, checks the libraries and the system version, fixes
// strIniFilePath and shows the main window. Null when the program must end;
// every reason has been shown by then.
std::unique_ptr<frmKestlin_01> StartKestlin(Display &display, InstanceLock &lock);

} // namespace kestlin
