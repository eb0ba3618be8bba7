#include "startup/SubmissionRecord.h"

#include "common/atomicfile.h"
#include "common/fdio.h"
#include "common/syserror.h"
#include "settings/SettingsFileIo.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin {

namespace {

// Lines "key=value" in UTF-8, one file per line "file=...": read by this
// program only, and readable by a person who wonders what it is.
const char *StateName(SubmissionRecord::State state)
{
    switch (state) {
    case SubmissionRecord::State::Prepared:
        return "prepared";
    case SubmissionRecord::State::Started:
        return "started "; // as wide as the others: marked in place
    case SubmissionRecord::State::Accepted:
        return "accepted";
    }
    return "";
}

bool ParseStamp(const std::string &text, DateTime &t)
{
    int fields[6] = {};
    if (text.size() != 14
        || std::sscanf(text.c_str(), "%4d%2d%2d%2d%2d%2d", &fields[0], &fields[1], &fields[2],
                       &fields[3], &fields[4], &fields[5])
               != 6)
        return false;
    t = { fields[0], fields[1], fields[2], fields[3], fields[4], fields[5] };
    return true;
}

bool Apply(SubmissionRecord &r, const std::string &key, const std::string &value)
{
    if (key == "state") {
        for (auto s : { SubmissionRecord::State::Prepared, SubmissionRecord::State::Started,
                        SubmissionRecord::State::Accepted }) {
            std::string name = StateName(s);
            if (name.back() == ' ')
                name.pop_back();
            if (value == name || value == StateName(s)) {
                r.state = s;
                return true;
            }
        }
        return false;
    }
    if (key == "stamp")
        return ParseStamp(value, r.stamp);
    if (key == "suffix")
        r.suffix = value;
    else if (key == "attachment")
        r.attachment = value;
    else if (key == "server")
        r.server = value;
    else if (key == "workspace")
        r.workSpace = value;
    else if (key == "attachment-log")
        r.attachmentLog = value;
    else if (key == "file")
        r.files.push_back(value);
    else if (key == "attachment-log-done")
        r.attachmentLogDone = value == "1";
    else if (key == "submission-log-done")
        r.submissionLogDone = value == "1";
    // Unknown keys are left alone: a newer copy may add some.
    return true;
}

std::string RecordText(const SubmissionRecord &r)
{
    std::string text = std::string("state=") + StateName(r.state) + "\n";
    text += "stamp=" + FormatLogStamp(r.stamp) + "\n";
    text += "suffix=" + r.suffix + "\n";
    text += "attachment=" + r.attachment + "\n";
    text += "server=" + r.server + "\n";
    text += "workspace=" + r.workSpace + "\n";
    text += "attachment-log=" + r.attachmentLog + "\n";
    text += std::string("attachment-log-done=") + (r.attachmentLogDone ? "1" : "0") + "\n";
    text += std::string("submission-log-done=") + (r.submissionLogDone ? "1" : "0") + "\n";
    for (const std::string &file : r.files)
        text += "file=" + file + "\n";
    return text;
}

bool Failed(const std::string &path, int error, std::string &reason)
{
    reason = path + ": " + SystemErrorText(error);
    return false;
}

bool SyncPath(const std::string &path, int flags)
{
    const int fd = ::open(path.empty() ? "." : path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string FolderOf(const std::string &path)
{
    return std::filesystem::path(path).parent_path().string();
}

} // namespace

std::string SubmissionRecordPath(const std::string &iniFilePath)
{
    return (std::filesystem::path(iniFilePath).parent_path() / "submission.rec").string();
}

bool WriteSubmissionRecord(const std::string &path, const SubmissionRecord &r, std::string &reason)
{
    int error = 0;
    if (!ReplaceFileAtomically(path, RecordText(r), error, 0600))
        return Failed(path, error, reason);
    return true;
}

bool WriteSubmissionRecordUnsynced(const std::string &path, const SubmissionRecord &r,
                                   std::string &reason)
{
    const std::string text = RecordText(r);
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Failed(path, errno, reason);
    bool ok = WriteAll(fd, text.data(), text.size());
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return Failed(path, error, reason);
    }
    return true;
}

bool SyncSubmissionRecord(const std::string &path, std::string &reason)
{
    if (!SyncPath(path, O_RDONLY) || !SyncPath(FolderOf(path), O_RDONLY | O_DIRECTORY))
        return Failed(path, errno, reason);
    return true;
}

bool MarkSubmissionRecord(const std::string &path, SubmissionRecord::State state,
                          std::string &reason)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return Failed(path, errno, reason);
    const std::string line = std::string("state=") + StateName(state);
    const bool ok = ::pwrite(fd, line.data(), line.size(), 0)
                        == static_cast<ssize_t>(line.size())
                    && ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    return ok || Failed(path, error, reason);
}

RecordFound ReadSubmissionRecord(const std::string &path, SubmissionRecord &record,
                                 std::string &reason)
{
    std::string bytes;
    struct stat info = {};
    int error = 0;
    if (!settingsfile::ReadWhole(path, settingsfile::Access::Read, bytes, info, error)) {
        if (error == ENOENT)
            return RecordFound::None;
        reason = path + ": " + SystemErrorText(error);
        return RecordFound::Unreadable;
    }
    record = {};
    size_t start = 0;
    bool haveState = false, haveStamp = false;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        if (!Apply(record, key, line.substr(eq + 1))) {
            reason = path + ": " + key;
            return RecordFound::Unreadable;
        }
        haveState = haveState || key == "state";
        haveStamp = haveStamp || key == "stamp";
    }
    if (!haveState || !haveStamp) {
        reason = path + ": " + SystemErrorText(EINVAL);
        return RecordFound::Unreadable;
    }
    return RecordFound::Found;
}

bool RemoveSubmissionRecord(const std::string &path, std::string &reason)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        reason = path + ": " + SystemErrorText(errno);
        return false;
    }
    return true;
}

} // namespace kestlin
