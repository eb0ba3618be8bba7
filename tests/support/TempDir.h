#pragma once
// A fresh folder for one test, removed with everything in it afterwards.
#include <string>

namespace kestlin::test {

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path()/name
    std::string operator/(const std::string &name) const;

private:
    std::string path_;
};

// Writes bytes to a file (created anew); fails the test when it cannot.
void WriteFile(const std::string &path, const std::string &bytes);
// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string &path);

// While alive, this thread's file accesses obey the permission bits even when
// the tests run as root (CI does): the capabilities that override them are
// dropped from the effective set and given back at the end.
class PermissionsEnforced
{
public:
    PermissionsEnforced();
    ~PermissionsEnforced();
    PermissionsEnforced(const PermissionsEnforced &) = delete;
    PermissionsEnforced &operator=(const PermissionsEnforced &) = delete;

private:
    bool dropped_ = false;
};

} // namespace kestlin::test
