#include "knownservers.h"

#include "arguments.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace bsmtp {

namespace {

const char kHeader[]
    = "# Kestlin: mail servers whose certificate was accepted, and servers that\r\n"
      "# offered TLS before. host:port sha256//<Base64 SHA-256 of the public key>"
      " | host:port starttls\r\n";

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool ReadAll(const std::string &path, std::string &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream out;
    out << in.rdbuf();
    bytes = out.str();
    return !in.bad();
}

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

bool WriteAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno != EINTR)
            return false;
        done += static_cast<size_t>(std::max<ssize_t>(count, 0));
    }
    return true;
}

} // namespace

std::string ServerKey(const std::string &host, int port)
{
    return Lower(BracketedHost(host)) + ":" + std::to_string(port);
}

std::vector<std::string> KnownServers::Words(const std::string &server) const
{
    std::vector<std::string> words;
    std::string bytes;
    if (path_.empty() || !ReadAll(path_, bytes))
        return words;
    // A file saved by a Windows editor may begin with a byte order mark.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    std::istringstream lines(bytes);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, word;
        if (!(fields >> name) || name[0] == '#' || Lower(name) != server)
            continue;
        while (fields >> word) {
            for (const std::string &part : Split(word, ';'))
                words.push_back(part);
        }
    }
    return words;
}

std::vector<std::string> KnownServers::Pins(const std::string &server) const
{
    std::vector<std::string> pins;
    for (const std::string &word : Words(server)) {
        if (word.compare(0, 8, "sha256//") == 0)
            pins.push_back(word);
    }
    return pins;
}

bool KnownServers::OfferedTls(const std::string &server) const
{
    const std::vector<std::string> words = Words(server);
    return std::any_of(words.begin(), words.end(),
                       [](const std::string &word) { return Lower(word) == "starttls"; });
}

bool KnownServers::Add(const std::string &line, std::string &reason) const
{
    if (path_.empty()) {
        reason = "known-servers.txt";
        return false;
    }
    std::string bytes;
    struct stat before = {};
    const bool existed = ::stat(path_.c_str(), &before) == 0;
    // A file that is there but cannot be read is not replaced by a new one.
    if (existed && !ReadAll(path_, bytes)) {
        reason = path_ + ": " + std::strerror(errno);
        return false;
    }
    std::istringstream lines(bytes);
    std::string present;
    while (std::getline(lines, present)) {
        if (!present.empty() && present.back() == '\r')
            present.pop_back();
        if (present == line)
            return true;
    }
    // The file's own line ends; a new file gets those of the program's files.
    const bool lf = existed && bytes.find('\n') != std::string::npos
                    && bytes.find("\r\n") == std::string::npos;
    const std::string end = lf ? "\n" : "\r\n";
    if (!existed)
        bytes = kHeader;
    else if (!bytes.empty() && bytes.back() != '\n')
        bytes += end;
    bytes += line + end;

    std::string temporary = path_ + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        reason = path_ + ": " + std::strerror(errno);
        return false;
    }
    const bool written = ::fchmod(fd, existed ? before.st_mode & 07777 : 0644) == 0
                         && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int error = errno;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path_.c_str()) != 0) {
        reason = path_ + ": " + std::strerror(written ? errno : error);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace bsmtp
