#include "startup/SubmissionRecord.h"

#include "common/atomicfile.h"
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
        return "started";
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
            if (value == StateName(s)) {
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

} // namespace

std::string SubmissionRecordPath(const std::string &iniFilePath)
{
    return (std::filesystem::path(iniFilePath).parent_path() / "submission.rec").string();
}

bool WriteSubmissionRecord(const std::string &path, const SubmissionRecord &r, std::string &reason)
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
    int error = 0;
    if (!ReplaceFileAtomically(path, text, error, 0600)) {
        reason = path + ": " + SystemErrorText(error);
        return false;
    }
    return true;
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
    // The removal must reach the disk too, or a crash brings the record back.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int fd
        = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

} // namespace kestlin
