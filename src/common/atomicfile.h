#pragma once
// Files that are replaced whole: a reader (or the next start after a crash)
// finds the old content or the new, never a mix. Every file the program and
// its libraries put in place goes through here: the settings file,
// known-servers.txt, the cabinet, the submission record.
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kestlin {

// The path with the links of its last part followed to the name they end at,
// so that a linked file is replaced and the link kept. A dangling link gives
// the path of the missing file it points to.
std::string FollowLinks(const std::string &path);

// A file that grows under a temporary name in its target's folder and takes
// the target's name only when Commit succeeds; dropped uncommitted, the
// temporary file goes. The target is the path with its links followed.
class AtomicFile
{
public:
    // newMode: the mode of a file that did not exist before; a replaced file
    // keeps its mode (and its owner where the writer may give it).
    explicit AtomicFile(const std::string &path, mode_t newMode = 0600);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Creates the temporary file (close-on-exec). False with an errno code.
    bool Open(int &error);
    int fd() const { return fd_; }
    const std::string &Target() const { return target_; }

    // Syncs the file, renames it onto the target and syncs the folder, so
    // that the new name survives a crash. With replace false an existing
    // target is not replaced (EEXIST).
    bool Commit(int &error, bool replace = true);

private:
    std::string target_;
    std::string temporary_;
    mode_t newMode_;
    int fd_ = -1;
    bool committed_ = false;
};

// The whole file at path replaced by bytes, as AtomicFile does it.
bool ReplaceFileAtomically(const std::string &path, std::string_view bytes, int &error,
                           mode_t newMode = 0600);

} // namespace kestlin
