#include "scan.h"

#include "cab32.h"
#include "common/winnames.h"
#include "names.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fnmatch.h>
#include <map>
#include <sys/stat.h>

namespace kestlin::cab32 {
namespace {

bool HasWildcard(const std::string &pattern)
{
    return pattern.find_first_of("*?[") != std::string::npos;
}

bool Matches(const std::vector<std::string> &patterns, const std::string &name,
             const std::string &relative)
{
    for (const std::string &p : patterns) {
        if (p == "*.*" || p == "*")
            return true;
        if (HasWildcard(p) ? ::fnmatch(p.c_str(), name.c_str(), 0) == 0 : p == relative)
            return true;
    }
    return false;
}

struct Walker
{
    const std::vector<std::string> &patterns;
    bool recursive;
    std::vector<Entry> &entries;

    Status Walk(const std::string &folder, const std::string &prefix)
    {
        DIR *dir = ::opendir(folder.c_str());
        if (!dir)
            return Fail(CAB32_E_READ, "フォルダを読めません: " + folder + ": " + ErrnoText(errno));
        std::vector<std::string> names;
        errno = 0;
        while (const dirent *d = ::readdir(dir)) {
            std::string name = d->d_name;
            if (name != "." && name != "..")
                names.push_back(std::move(name));
        }
        int readError = errno;
        ::closedir(dir);
        if (readError != 0)
            return Fail(CAB32_E_READ,
                        "フォルダを読めません: " + folder + ": " + ErrnoText(readError));
        for (const std::string &name : names) {
            if (Status s = Visit(folder + "/" + name, name, prefix + name); !s.ok())
                return s;
        }
        return {};
    }

    Status Visit(const std::string &path, const std::string &name, const std::string &relative)
    {
        struct stat link
        {
        };
        struct stat target
        {
        };
        if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &target) != 0)
            return {}; // gone or a dangling link: nothing to pack
        if (S_ISDIR(link.st_mode))
            return recursive ? Walk(path, relative + "/") : Status {};
        if (!S_ISREG(target.st_mode) || !Matches(patterns, name, relative))
            return {};
        Entry entry;
        if (Status s = DescribeFile(path, relative, entry); !s.ok())
            return s;
        entries.push_back(std::move(entry));
        return {};
    }
};

// Two names that Windows takes for one ("a.txt" and "A.txt", a file "x" and a
// folder "X"): unpacked there, one file would replace the other or could not
// be made. Folders that differ in case only merge there, harmlessly.
Status CheckNoWindowsClash(const std::vector<Entry> &entries)
{
    struct Seen
    {
        std::string name;
        bool folder;
    };
    std::map<std::string, Seen> seen;
    for (const Entry &e : entries) {
        const std::string &path = e.displayName;
        for (size_t slash = path.find('/');; slash = path.find('/', slash + 1)) {
            const bool folder = slash != std::string::npos;
            const std::string name = path.substr(0, slash);
            const auto [it, fresh] = seen.try_emplace(WindowsNameKey(name), Seen { name, folder });
            if (!fresh && it->second.name != name && !(folder && it->second.folder))
                return Fail(CAB32_E_BADNAME,
                            "Windows では同じ名前になります: " + it->second.name + " と " + name);
            if (!folder)
                break;
        }
    }
    return {};
}

} // namespace

Status DescribeFile(const std::string &path, const std::string &relative, Entry &entry)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return Fail(CAB32_E_READ, "ファイルを読めません: " + relative + ": " + ErrnoText(errno));
    bool utf8 = false;
    if (Status s = EncodeName(relative, entry.storedName, utf8); !s.ok())
        return s;
    entry.path = path;
    entry.displayName = relative;
    entry.size = static_cast<uint64_t>(st.st_size);
    entry.stamp = ToDosStamp(st.st_mtime);
    entry.attributes = kAttribArchive;
    if (utf8)
        entry.attributes |= kAttribUtf8Name;
    if ((st.st_mode & S_IWUSR) == 0)
        entry.attributes |= kAttribReadOnly;
    std::string::size_type slash = relative.rfind('/');
    if (relative[slash == std::string::npos ? 0 : slash + 1] == '.')
        entry.attributes |= kAttribHidden;
    return {};
}

Status CollectFiles(const std::string &folder, const std::vector<std::string> &patterns,
                    bool recursive, std::vector<Entry> &entries)
{
    // Patterns naming one file by path are looked up directly: they may lie
    // below the folder even without recursion.
    std::vector<std::string> wildcards;
    for (const std::string &p : patterns) {
        if (HasWildcard(p)) {
            wildcards.push_back(p);
            continue;
        }
        struct stat st
        {
        };
        std::string path = folder + "/" + p;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return Fail(CAB32_E_NOINPUT, "ファイルがありません: " + path);
        Entry entry;
        if (Status s = DescribeFile(path, p, entry); !s.ok())
            return s;
        entries.push_back(std::move(entry));
    }
    if (!wildcards.empty()) {
        Walker walker { wildcards, recursive, entries };
        if (Status s = walker.Walk(folder, ""); !s.ok())
            return s;
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.displayName < b.displayName; });
    entries.erase(
        std::unique(entries.begin(), entries.end(),
                    [](const Entry &a, const Entry &b) { return a.displayName == b.displayName; }),
        entries.end());
    return CheckNoWindowsClash(entries);
}

} // namespace kestlin::cab32
