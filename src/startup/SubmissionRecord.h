#pragma once
// The promise a submission keeps across a crash: a small file beside the
// settings file, written and synced before the mail can start, marked when
// the message starts and when the server accepts it, and removed once the
// logs are written. A record found at start says what the run before left
// unfinished.
#include "common/timestamp.h"

#include <string>
#include <vector>

namespace kestlin {

struct SubmissionRecord
{
    enum class State {
        Prepared, // written before the mailing step: nothing has gone yet
        Started, // the message has started: the server may have it
        Accepted, // the server accepted the message
    };
    State state = State::Prepared;
    DateTime stamp; // the submission time stamp
    std::string suffix; // "" for the first submission of that second, else "_2", "_3"...
    std::string attachment; // the mailed file's name
    std::string server; // "host:port"
    std::string workSpace; // the working folder, kept while the record lives
    std::string attachmentLog; // the attachment-log folder claimed for it
    std::vector<std::string> files; // the listed files
    bool attachmentLogDone = false;
    bool submissionLogDone = false;
};

// Where the record of the settings file at iniFilePath lives.
std::string SubmissionRecordPath(const std::string &iniFilePath);

// Replaces the record as a whole and syncs it. False with the reason.
bool WriteSubmissionRecord(const std::string &path, const SubmissionRecord &record,
                           std::string &reason);

// The record of a submission on its way costs little: written whole without
// waiting for the disk, synced (file and folder) while the mail library
// connects, and then only its state changed in place, each change synced.
bool WriteSubmissionRecordUnsynced(const std::string &path, const SubmissionRecord &record,
                                   std::string &reason);
bool SyncSubmissionRecord(const std::string &path, std::string &reason);
bool MarkSubmissionRecord(const std::string &path, SubmissionRecord::State state,
                          std::string &reason);

enum class RecordFound { None, Found, Unreadable };
// Reads the record; Unreadable (with the reason) for a file that is there
// but cannot be read or understood.
RecordFound ReadSubmissionRecord(const std::string &path, SubmissionRecord &record,
                                 std::string &reason);

// Removes the record. A missing record counts as removed. The removal is not
// waited for: a record that comes back after a power cut only finishes, once
// more, logs that exist.
bool RemoveSubmissionRecord(const std::string &path, std::string &reason);

} // namespace kestlin
