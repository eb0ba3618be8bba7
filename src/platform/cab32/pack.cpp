#include "pack.h"

#include "cab32.h"
#include "scan.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin::cab32 {
namespace {

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string BaseNameOf(const std::string &name)
{
    std::string file = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
    std::string::size_type dot = file.rfind('.');
    return dot == std::string::npos || dot + 1 == file.size() ? file : file.substr(0, dot);
}

// An empty archive name: the folder's own name + ".cab" for every file, or
// the single pattern's base name + ".cab" inside the folder.
std::string DefaultArchiveName(const std::string &folder, const std::vector<std::string> &patterns)
{
    if (patterns.empty() || patterns[0] == "*.*" || patterns[0] == "*")
        return folder + ".cab";
    return folder + "/" + BaseNameOf(patterns[0]) + ".cab";
}

std::string FolderOf(const std::string &path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The archive grows in a hidden file beside its final place and is renamed
// there only when complete.
class TemporaryArchive
{
public:
    explicit TemporaryArchive(const std::string &target)
        : path_(FolderOf(target) + "/.cab32-XXXXXX")
    { }
    ~TemporaryArchive()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!kept_)
            ::unlink(path_.c_str());
    }
    TemporaryArchive(const TemporaryArchive &) = delete;
    TemporaryArchive &operator=(const TemporaryArchive &) = delete;

    Status Create()
    {
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0) {
            kept_ = true; // nothing to remove
            return Fail(CAB32_E_WRITE, "書庫を作れません: " + path_ + ": " + ErrnoText(errno));
        }
        ::fchmod(fd_, 0644);
        return {};
    }

    int fd() const { return fd_; }

    Status Finish(const std::string &target, bool overwrite)
    {
        int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0)
            return Fail(CAB32_E_WRITE, "書庫を書き込めません: " + ErrnoText(errno));
        rc = overwrite
                 ? ::rename(path_.c_str(), target.c_str())
                 : ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && errno == EEXIST)
            return Fail(CAB32_E_EXISTS, "書庫が既にあります: " + target);
        if (rc != 0)
            return Fail(CAB32_E_WRITE, "書庫を置けません: " + target + ": " + ErrnoText(errno));
        kept_ = true;
        return {};
    }

private:
    std::string path_;
    int fd_ = -1;
    bool kept_ = false;
};

Status CheckTarget(const std::string &archive, bool overwrite)
{
    struct stat st
    {
    };
    if (::stat(archive.c_str(), &st) != 0)
        return {};
    if (S_ISDIR(st.st_mode))
        return Fail(CAB32_E_WRITE, "書庫の名前がフォルダです: " + archive);
    if (!overwrite)
        return Fail(CAB32_E_EXISTS, "書庫が既にあります: " + archive);
    return {};
}

} // namespace

Status Pack(const Command &command, const Limits &limits, std::string &summary)
{
    using C = Command::Compression;
    if (command.compression == C::Lzx || command.compression == C::Quantum)
        return Fail(CAB32_E_METHOD, "LZX と Quantum では書けません (-mz か -ms を使ってください)");
    const std::string folder = WithoutTrailingSlashes(command.arguments[1]);
    std::vector<std::string> patterns(command.arguments.begin() + 2, command.arguments.end());
    if (patterns.empty())
        patterns.push_back("*.*");
    struct stat st
    {
    };
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Fail(CAB32_E_NOINPUT, "フォルダがありません: " + folder);
    std::string archive = command.arguments[0];
    if (archive.empty())
        archive = DefaultArchiveName(folder, patterns);
    if (Status s = CheckTarget(archive, command.overwrite); !s.ok())
        return s;
    std::vector<Entry> entries;
    if (Status s = CollectFiles(folder, patterns, command.recursive, entries); !s.ok())
        return s;
    if (entries.empty())
        return Fail(CAB32_E_NOFILES, "書庫に入れるファイルがありません: " + folder);
    TemporaryArchive temporary(archive);
    if (Status s = temporary.Create(); !s.ok())
        return s;
    WriteResult written;
    Method method = command.compression == C::None ? Method::None : Method::Mszip;
    if (Status s = WriteCabinet(entries, method, limits, temporary.fd(), written); !s.ok())
        return s;
    if (Status s = temporary.Finish(archive, command.overwrite); !s.ok())
        return s;
    summary = archive + ": " + std::to_string(entries.size()) + " 個のファイル、"
              + std::to_string(written.inputBytes) + " バイトを "
              + std::to_string(written.cabinetBytes) + " バイトに圧縮しました";
    return {};
}

Status RunCommandLine(const char *line, const Limits &limits, std::string &summary)
{
    Command command;
    if (Status s = ParseCommandLine(line, command); !s.ok())
        return s;
    if (command.action == Command::Action::Extract)
        return Extract(command, summary);
    return Pack(command, limits, summary);
}

} // namespace kestlin::cab32
