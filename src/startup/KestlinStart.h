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

    // False when another running copy holds the lock.
    bool TryLock();

    // Where the lock of the settings in that folder lives.
    static std::string LockFilePath(const std::string &settingsFolder);

private:
    std::unique_ptr<QLockFile> lock_;
};

// Refuses a second copy, checks the libraries and the system version, fixes
// strIniFilePath and shows the main window. Null when the program must end;
// every reason has been shown by then.
std::unique_ptr<frmKestlin_01> StartKestlin(Display &display, InstanceLock &lock);

} // namespace kestlin
