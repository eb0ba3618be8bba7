#include "extract.h"

#include "cab32.h"
#include "common/cp932.h"
#include "layout.h"
#include "names.h"
#include "pack.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <mspack.h>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace kestlin::cab32 {
namespace {

struct FileSystem;

// One open file of libmspack's.
struct FdFile
{
    int fd = -1;
    FileSystem *owner = nullptr; // set for output files
};

// What libmspack is given: its table of functions, and the way back to ours.
struct SystemLink
{
    mspack_system base;
    FileSystem *owner;
};

// libmspack's file access, on descriptors: the archive is opened by path,
// every output file below the destination folder without following links.
struct FileSystem
{
    FileSystem();
    FileSystem(const FileSystem &) = delete;
    FileSystem &operator=(const FileSystem &) = delete;

    SystemLink link;
    int destination = -1; // folder that output names are relative to; -1 discards
    bool overwrite = false;
    int outputParent = -1; // folder of the file being written
    std::string outputName; // its name there
    mscabd_file *current = nullptr;
    Status failure; // why the last output could not be opened
};

// Opens the folder holding relative below root, creating missing folders when
// asked. Every step refuses links, so nothing leaves the root.
Status OpenParent(int root, const std::string &relative, bool create, int &parent,
                  std::string &name)
{
    int current = ::dup(root);
    if (current < 0)
        return Fail(CAB32_E_WRITE, "展開先を開けません: " + ErrnoText(errno));
    std::string::size_type start = 0;
    for (std::string::size_type slash; (slash = relative.find('/', start)) != std::string::npos;
         start = slash + 1) {
        std::string part = relative.substr(start, slash - start);
        int error = 0;
        if (create && ::mkdirat(current, part.c_str(), 0777) != 0 && errno != EEXIST)
            error = errno;
        int next = error ? -1
                         : ::openat(current, part.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && error == 0)
            error = errno;
        struct stat st
        {
        };
        bool link = next < 0 && ::fstatat(current, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                    && S_ISLNK(st.st_mode);
        ::close(current);
        if (next < 0) {
            return link ? Fail(CAB32_E_BADNAME, "リンクを通して書こうとしました: " + relative)
                        : Fail(CAB32_E_WRITE,
                               "フォルダを作れません: " + relative + ": " + ErrnoText(error));
        }
        current = next;
    }
    parent = current;
    name = relative.substr(start);
    return {};
}

mspack_file *Open(mspack_system *self, const char *filename, int mode)
{
    FileSystem *fs = reinterpret_cast<SystemLink *>(self)->owner;
    auto file = std::make_unique<FdFile>();
    if (mode == MSPACK_SYS_OPEN_READ) {
        file->fd = ::open(filename, O_RDONLY | O_CLOEXEC);
        return file->fd < 0 ? nullptr : reinterpret_cast<mspack_file *>(file.release());
    }
    if (mode != MSPACK_SYS_OPEN_WRITE)
        return nullptr;
    file->owner = fs;
    if (fs->destination < 0)
        return reinterpret_cast<mspack_file *>(file.release());
    fs->failure = OpenParent(fs->destination, filename, true, fs->outputParent, fs->outputName);
    if (!fs->failure.ok())
        return nullptr;
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (fs->overwrite ? O_TRUNC : O_EXCL);
    file->fd = ::openat(fs->outputParent, fs->outputName.c_str(), flags, 0666);
    if (file->fd < 0) {
        int error = errno;
        fs->failure = error == ELOOP ? Fail(CAB32_E_BADNAME, "リンクを通して書こうとしました: "
                                                                 + std::string(filename))
                      : error == EEXIST
                          ? Fail(CAB32_E_EXISTS, "ファイルが既にあります: " + std::string(filename))
                          : Fail(CAB32_E_WRITE, "ファイルを作れません: " + std::string(filename)
                                                    + ": " + ErrnoText(error));
        return nullptr;
    }
    return reinterpret_cast<mspack_file *>(file.release());
}

// Stamps the output with the archive's time and read-only attribute.
void FinishOutput(FileSystem &fs, int fd)
{
    const mscabd_file *f = fs.current;
    if (!f)
        return;
    struct tm local
    {
    };
    local.tm_year = f->date_y - 1900;
    local.tm_mon = f->date_m - 1;
    local.tm_mday = f->date_d;
    local.tm_hour = f->time_h;
    local.tm_min = f->time_m;
    local.tm_sec = f->time_s;
    local.tm_isdst = -1;
    time_t t = ::mktime(&local);
    if (t != static_cast<time_t>(-1)) {
        timespec times[2] = { { t, 0 }, { t, 0 } };
        ::futimens(fd, times);
    }
    struct stat st
    {
    };
    if ((f->attribs & MSCAB_ATTRIB_RDONLY) && ::fstat(fd, &st) == 0)
        ::fchmod(fd, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH));
}

void Close(mspack_file *file)
{
    auto *f = reinterpret_cast<FdFile *>(file);
    if (f->fd >= 0) {
        if (f->owner)
            FinishOutput(*f->owner, f->fd);
        ::close(f->fd);
    }
    delete f;
}

int Read(mspack_file *file, void *buffer, int bytes)
{
    auto *f = reinterpret_cast<FdFile *>(file);
    for (;;) {
        ssize_t n = ::read(f->fd, buffer, static_cast<size_t>(bytes));
        if (n < 0 && errno == EINTR)
            continue;
        return static_cast<int>(n);
    }
}

int Write(mspack_file *file, void *buffer, int bytes)
{
    auto *f = reinterpret_cast<FdFile *>(file);
    if (f->fd < 0)
        return bytes;
    const char *p = static_cast<const char *>(buffer);
    int done = 0;
    while (done < bytes) {
        ssize_t n = ::write(f->fd, p + done, static_cast<size_t>(bytes - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done > 0 ? done : -1;
        done += static_cast<int>(n);
    }
    return done;
}

int Seek(mspack_file *file, off_t offset, int mode)
{
    int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                 : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                               : SEEK_END;
    return ::lseek(reinterpret_cast<FdFile *>(file)->fd, offset, whence) < 0 ? -1 : 0;
}

off_t Tell(mspack_file *file)
{
    return ::lseek(reinterpret_cast<FdFile *>(file)->fd, 0, SEEK_CUR);
}

void Message(mspack_file *, const char *, ...) { }

void *Alloc(mspack_system *, size_t bytes)
{
    return std::malloc(bytes);
}

void Free(void *p)
{
    std::free(p);
}

void Copy(void *src, void *dst, size_t bytes)
{
    std::memcpy(dst, src, bytes);
}

FileSystem::FileSystem()
    : link { { Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr }, this }
{ }

// One libmspack decompressor with its open cabinet.
class Cabinet
{
public:
    explicit Cabinet(FileSystem &fs)
        : decompressor_(mspack_create_cab_decompressor(&fs.link.base))
    { }
    ~Cabinet()
    {
        if (cabinet_)
            decompressor_->close(decompressor_, cabinet_);
        if (decompressor_)
            mspack_destroy_cab_decompressor(decompressor_);
    }
    Cabinet(const Cabinet &) = delete;
    Cabinet &operator=(const Cabinet &) = delete;

    // Opens path when it is a regular file whose headers are sound and which is
    // as long as they say (a cut-off archive is not).
    bool Open(const std::string &path)
    {
        struct stat st
        {
        };
        if (!decompressor_ || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        cabinet_ = decompressor_->open(decompressor_, path.c_str());
        return cabinet_ && cabinet_->files && cabinet_->base_offset == 0
               && static_cast<off_t>(cabinet_->length) <= st.st_size;
    }

    mscabd_file *files() const { return cabinet_->files; }

    // What libmspack leaves unchecked (see layout.h); after Open.
    Status CheckLayout(const std::string &path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return Fail(CAB32_E_NOTCAB, "書庫を読めません: " + path + ": " + ErrnoText(errno));
        Status s = ReadFolderData(fd, folders_);
        ::close(fd);
        size_t index = 0;
        for (const mscabd_folder *f = cabinet_->folders; s.ok() && f; f = f->next) {
            if (index == folders_.size())
                return Fail(CAB32_E_DATA, "書庫のフォルダの数が合いません");
            s = CheckCompression(folders_[index].compression);
            folderIndex_[f] = index++;
        }
        if (!s.ok())
            return s;
        std::vector<FileRange> ranges;
        for (const mscabd_file *f = files(); f; f = f->next)
            ranges.push_back(FileRange { FolderOf(f), f->offset, f->length, DisplayName(f) });
        return CheckRanges(std::move(ranges), folders_);
    }

    // Index of the file's folder, in the order of the archive; after CheckLayout.
    size_t FolderOf(const mscabd_file *f) const { return folderIndex_.at(f->folder); }

    // Decodes every folder that holds files once, as far as its last file
    // with data reaches, writing nothing: exactly what extracting every file
    // decodes (also when that is nothing: a folder continued from another
    // cabinet fails even for an empty file). After CheckLayout.
    int DecodeFolders()
    {
        std::vector<std::optional<uint64_t>> reach(folders_.size());
        for (const mscabd_file *f = files(); f; f = f->next) {
            std::optional<uint64_t> &r = reach[FolderOf(f)];
            r = std::max<uint64_t>(r.value_or(0),
                                   f->length ? uint64_t { f->offset } + f->length : 0);
        }
        size_t index = 0;
        for (mscabd_folder *folder = cabinet_->folders; folder; folder = folder->next, ++index) {
            if (!reach[index])
                continue;
            mscabd_file whole {};
            whole.filename = const_cast<char *>("");
            whole.folder = folder;
            whole.length = static_cast<unsigned int>(*reach[index]);
            if (int error = Extract(&whole, ""); error != MSPACK_ERR_OK)
                return error;
        }
        return MSPACK_ERR_OK;
    }

    int Extract(mscabd_file *file, const char *name)
    {
        return decompressor_->extract(decompressor_, file, name);
    }

    static std::string DisplayName(const mscabd_file *f)
    {
        return (f->attribs & MSCAB_ATTRIB_UTF_NAME) ? f->filename : cp932::ToUtf8(f->filename);
    }

private:
    mscab_decompressor *decompressor_;
    mscabd_cabinet *cabinet_ = nullptr;
    std::vector<FolderData> folders_;
    std::unordered_map<const mscabd_folder *, size_t> folderIndex_;
};

Status DataError(int error, const std::string &name)
{
    switch (error) {
    case MSPACK_ERR_NOMEMORY:
        return Fail(CAB32_E_MEMORY, "メモリが足りません");
    case MSPACK_ERR_OPEN:
    case MSPACK_ERR_WRITE:
        return Fail(CAB32_E_WRITE, "ファイルを書き込めません: " + name);
    default:
        return Fail(CAB32_E_DATA, "書庫のデータが壊れています: " + name);
    }
}

bool Selected(const std::vector<std::string> &patterns, const std::string &relative)
{
    std::string name
        = relative.substr(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/') + 1);
    for (const std::string &p : patterns) {
        if (p == "*.*" || p == "*" || p == relative || ::fnmatch(p.c_str(), name.c_str(), 0) == 0)
            return true;
    }
    return false;
}

struct Planned
{
    mscabd_file *file;
    std::string relative;
};

// Every name is decoded and checked before anything is written, so that a
// hostile archive leaves the destination untouched.
Status PlanExtraction(const Cabinet &cabinet, const std::vector<std::string> &patterns,
                      std::vector<Planned> &plan)
{
    for (mscabd_file *f = cabinet.files(); f; f = f->next) {
        std::string relative;
        if (Status s = DecodeName(f->filename, f->attribs & MSCAB_ATTRIB_UTF_NAME, relative);
            !s.ok())
            return s;
        if (Selected(patterns, relative))
            plan.push_back(Planned { f, relative });
    }
    // In the order of the data, so that each folder is decoded once: libmspack
    // starts a folder afresh for a file that lies before the one it last
    // wrote. Empty files, which need no data, come first in their folder.
    auto order = [&](const Planned &p) {
        return std::tuple(cabinet.FolderOf(p.file), p.file->length != 0, p.file->offset);
    };
    std::stable_sort(plan.begin(), plan.end(),
                     [&](const Planned &a, const Planned &b) { return order(a) < order(b); });
    return {};
}

Status OpenDestination(const std::string &folder, int &fd)
{
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
        return Fail(CAB32_E_WRITE, "展開先を作れません: " + folder + ": " + ErrnoText(errno));
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Fail(CAB32_E_WRITE, "展開先を開けません: " + folder + ": " + ErrnoText(errno));
    return {};
}

Status CheckNothingReplaced(int destination, const std::vector<Planned> &plan)
{
    for (const Planned &p : plan) {
        struct stat st
        {
        };
        if (::fstatat(destination, p.relative.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            return Fail(CAB32_E_EXISTS, "ファイルが既にあります: " + p.relative);
    }
    return {};
}

Status ExtractOne(FileSystem &fs, Cabinet &cabinet, const Planned &p)
{
    fs.current = p.file;
    fs.failure = {};
    fs.outputParent = -1;
    int error = cabinet.Extract(p.file, p.relative.c_str());
    Status s = error == MSPACK_ERR_OK ? Status {}
               : !fs.failure.ok()     ? fs.failure
                                      : DataError(error, p.relative);
    if (fs.outputParent >= 0) {
        if (!s.ok() && fs.failure.ok())
            ::unlinkat(fs.outputParent, fs.outputName.c_str(), 0); // no half-written file
        ::close(fs.outputParent);
    }
    return s;
}

} // namespace

bool IsValidCabinet(const std::string &path, int32_t mode)
{
    FileSystem fs;
    Cabinet cabinet(fs);
    if (!cabinet.Open(path) || !cabinet.CheckLayout(path).ok())
        return false;
    return mode != CAB32_CHECK_FULL || cabinet.DecodeFolders() == MSPACK_ERR_OK;
}

Status Extract(const Command &command, std::string &summary)
{
    const std::string &archive = command.arguments[0];
    std::string folder = command.arguments[1];
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    std::vector<std::string> patterns(command.arguments.begin() + 2, command.arguments.end());
    if (patterns.empty())
        patterns.push_back("*.*");
    FileSystem fs;
    Cabinet cabinet(fs);
    if (!cabinet.Open(archive))
        return Fail(CAB32_E_NOTCAB, "書庫ではありません: " + archive);
    if (Status s = cabinet.CheckLayout(archive); !s.ok())
        return s;
    std::vector<Planned> plan;
    if (Status s = PlanExtraction(cabinet, patterns, plan); !s.ok())
        return s;
    int destination = -1;
    Status s = OpenDestination(folder, destination);
    if (s.ok() && !command.overwrite)
        s = CheckNothingReplaced(destination, plan);
    fs.destination = destination;
    fs.overwrite = command.overwrite;
    for (size_t i = 0; s.ok() && i < plan.size(); ++i)
        s = ExtractOne(fs, cabinet, plan[i]);
    if (destination >= 0)
        ::close(destination);
    if (s.ok())
        summary = archive + ": " + std::to_string(plan.size()) + " 個のファイルを " + folder
                  + " に展開しました";
    return s;
}

} // namespace kestlin::cab32
