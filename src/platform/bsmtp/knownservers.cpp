#include "knownservers.h"

#include "arguments.h"
#include "common/atomicfile.h"
#include "common/hostname.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace bsmtp {

namespace {

const char kHeader[]
    = "# Kestlin: mail servers whose certificate was accepted, servers with which TLS\r\n"
      "# worked, servers allowed a password in clear. host:port sha256//<Base64 SHA-256\r\n"
      "# of the public key> | host:port starttls | host:port no-tls\r\n";

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string SystemReason(const std::string &path, int error)
{
    return path + ": " + std::strerror(error);
}

// The whole file; a file that is not there reads as empty.
bool ReadAll(const std::string &path, std::string &bytes, int &error)
{
    bytes.clear();
    error = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return error == ENOENT;
    }
    char chunk[16384];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error = count < 0 ? errno : 0;
            ::close(fd);
            return count == 0;
        }
        bytes.append(chunk, static_cast<size_t>(count));
    }
}

// "host:port" as a key, or "" when the word is none.
std::string KeyOf(const std::string &word)
{
    const size_t colon = word.rfind(':');
    if (colon == std::string::npos || colon + 1 == word.size() || colon + 6 < word.size())
        return {};
    const std::string host = word.substr(0, colon), port = word.substr(colon + 1);
    if (!std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return {};
    const int number = std::stoi(port);
    if (number < 1 || number > 65535 || !kestlin::IsServerName(host))
        return {};
    return ServerKey(host, number);
}

bool IsPin(const std::string &word)
{
    return word.size() > 8 && word.compare(0, 8, "sha256//") == 0
           && std::all_of(word.begin() + 8, word.end(), [](unsigned char c) {
                  return std::isalnum(c) || c == '+' || c == '/' || c == '=';
              });
}

// The words after the server, each checked; false when one is not known.
bool Words(std::istringstream &fields, std::vector<std::string> &words)
{
    std::string word;
    while (fields >> word) {
        std::istringstream parts(word);
        std::string part;
        while (std::getline(parts, part, ';')) {
            const std::string lower = Lower(part);
            if (lower == "starttls" || lower == "no-tls")
                words.push_back(lower);
            else if (IsPin(part))
                words.push_back(part);
            else if (!part.empty())
                return false;
        }
    }
    return !words.empty();
}

std::string Shown(const std::string &line)
{
    std::string shown;
    for (const char c : line.substr(0, 200))
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return shown;
}

// An exclusive lock on "<file>.lock" beside the file a link leads to, for as
// long as the object lives.
class FileLock
{
public:
    explicit FileLock(const std::string &path)
    {
        const std::string lock = kestlin::FollowLinks(path) + ".lock";
        fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
        if (fd_ < 0 && !error_)
            error_ = errno;
        reason_ = error_ ? SystemReason(lock, error_) : "";
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool held() const { return fd_ >= 0; }
    const std::string &reason() const { return reason_; }

private:
    int fd_ = -1;
    int error_ = 0;
    std::string reason_;
};

} // namespace

std::string ServerKey(const std::string &host, int port)
{
    return BracketedHost(kestlin::NormalServerName(host)) + ":" + std::to_string(port);
}

void KnownServers::Parse(std::string bytes)
{
    entries_.clear();
    problems_.clear();
    // A file saved by a Windows editor may begin with a byte order mark.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    std::istringstream lines(bytes);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::string first;
        if (!(fields >> first) || first[0] == '#')
            continue;
        Entry entry { KeyOf(first), {} };
        if (entry.server.empty() || !Words(fields, entry.words)) {
            entry.words.clear();
            if (entry.server.empty())
                entry.server = Lower(first);
            problems_.push_back(path_ + " の " + std::to_string(number)
                                + " 行目を読み取れないため、この行は使いません: " + Shown(line));
        }
        entries_.push_back(std::move(entry));
    }
}

bool KnownServers::Load(std::string &reason)
{
    std::string bytes;
    int error = 0;
    if (!ReadAll(path_, bytes, error)) {
        reason = "信頼するメールサーバーの記録を読み取れないため、送信を中止しました。"
                 + SystemReason(path_, error);
        return false;
    }
    Parse(std::move(bytes));
    return true;
}

std::vector<std::string> KnownServers::Pins(const std::string &server) const
{
    std::vector<std::string> pins;
    for (const Entry &entry : entries_) {
        if (entry.server != server)
            continue;
        for (const std::string &word : entry.words) {
            if (IsPin(word))
                pins.push_back(word);
        }
    }
    return pins;
}

bool KnownServers::OfferedTls(const std::string &server) const
{
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry &entry) {
        return entry.server == server
               && std::count(entry.words.begin(), entry.words.end(), "starttls");
    });
}

bool KnownServers::PlainAllowed(const std::string &server) const
{
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry &entry) {
        return entry.server == server
               && std::count(entry.words.begin(), entry.words.end(), "no-tls");
    });
}

bool KnownServers::Unclear(const std::string &server) const
{
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry &entry) {
        return entry.server == server && entry.words.empty();
    });
}

bool KnownServers::Add(const std::string &line, std::string &reason)
{
    const FileLock lock(path_);
    if (!lock.held()) {
        reason = lock.reason();
        return false;
    }
    std::string bytes;
    int error = 0;
    // A file that is there but cannot be read is not replaced by a new one.
    if (!ReadAll(path_, bytes, error)) {
        reason = SystemReason(path_, error);
        return false;
    }
    const bool existed = error != ENOENT;
    std::istringstream lines(bytes);
    std::string present;
    while (std::getline(lines, present)) {
        if (!present.empty() && present.back() == '\r')
            present.pop_back();
        if (present == line) {
            Parse(bytes);
            return true;
        }
    }
    // The file's own line ends; a new file gets those of the program's files.
    const bool lf
        = bytes.find('\n') != std::string::npos && bytes.find("\r\n") == std::string::npos;
    const std::string end = lf ? "\n" : "\r\n";
    if (!existed)
        bytes = kHeader;
    else if (!bytes.empty() && bytes.back() != '\n')
        bytes += end;
    bytes += line + end;
    if (!kestlin::ReplaceFileAtomically(path_, bytes, error, 0600)) {
        reason = SystemReason(path_, error);
        return false;
    }
    Parse(std::move(bytes));
    return true;
}

} // namespace bsmtp
