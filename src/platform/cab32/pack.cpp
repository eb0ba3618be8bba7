#include "pack.h"

#include "cab32.h"
#include "common/atomicfile.h"
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
    // The archive grows under a temporary name beside its final place and
    // takes that name only when complete and on disk.
    AtomicFile file(archive, 0644);
    int error = 0;
    if (!file.Open(error))
        return Fail(CAB32_E_WRITE, "書庫を作れません: " + archive + ": " + ErrnoText(error));
    WriteResult written;
    Method method = command.compression == C::None ? Method::None : Method::Mszip;
    if (Status s = WriteCabinet(entries, method, limits, file.fd(), written); !s.ok())
        return s;
    if (!file.Commit(error, command.overwrite)) {
        if (error == EEXIST)
            return Fail(CAB32_E_EXISTS, "書庫が既にあります: " + archive);
        return Fail(CAB32_E_WRITE, "書庫を置けません: " + archive + ": " + ErrnoText(error));
    }
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
