#include "common/dynlib.h"

#include "common/files.h"
#include "common/programfolder.h"

#include <dlfcn.h>

namespace kestlin {

namespace {

std::string LoaderError(const std::string &fallback)
{
    const char *error = ::dlerror();
    return error ? std::string(error) : fallback;
}

// One attempt to load a library: the program folder first, then the loader's
// own search. Bound at once, so that a missing dependency or symbol shows
// now rather than in the middle of a submission.
struct Opened
{
    void *handle = nullptr;
    std::string file; // the file found (the name when the loader searched for it)
    std::string reason; // the loader's words when handle is null
    bool present = false; // there was a library file to fail on
};

Opened Open(const std::string &fileName)
{
    Opened opened;
    const std::string local = JoinPath(ProgramFolder(), fileName);
    opened.present = OrdinaryFileExists(local);
    if (opened.present) {
        opened.file = local;
        if ((opened.handle = ::dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL)))
            return opened;
        opened.reason = LoaderError(local);
    }
    if ((opened.handle = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL))) {
        opened.file = fileName;
        opened.reason.clear();
        return opened;
    }
    if (opened.present)
        return opened; // the program folder's copy is the one to mend
    opened.file = fileName;
    opened.reason = LoaderError(fileName);
    // The loader names first the file it failed on. When that is not the
    // name asked for, it did find the library and failed on something the
    // library needs, or found a file of that name that is no library.
    opened.present = !opened.reason.starts_with(fileName + ":");
    return opened;
}

} // namespace

SharedLibrary::~SharedLibrary()
{
    if (handle_)
        ::dlclose(handle_);
}

bool SharedLibrary::Load(const std::string &fileName, std::string &reason)
{
    if (handle_)
        ::dlclose(handle_);
    fileName_ = fileName;
    const Opened opened = Open(fileName);
    handle_ = opened.handle;
    if (!handle_)
        reason = fileName + " を読み込めません。 " + opened.reason;
    return handle_ != nullptr;
}

void *SharedLibrary::Symbol(const char *name, std::string &reason) const
{
    if (!handle_) {
        reason = fileName_ + " が読み込まれていません。";
        return nullptr;
    }
    ::dlerror();
    void *symbol = ::dlsym(handle_, name);
    if (!symbol)
        reason = fileName_ + " に " + name + " がありません。";
    return symbol;
}

LibraryProbe ProbeLibrary(const std::string &fileName, const std::vector<std::string> &entryPoints)
{
    const Opened opened = Open(fileName);
    LibraryProbe probe;
    probe.file = opened.file;
    probe.reason = opened.reason;
    if (!opened.handle) {
        probe.state = opened.present ? LibraryProbe::State::Unusable : LibraryProbe::State::Missing;
        return probe;
    }
    probe.state = LibraryProbe::State::Usable;
    for (const std::string &name : entryPoints) {
        ::dlerror();
        if (!::dlsym(opened.handle, name.c_str())) {
            probe.state = LibraryProbe::State::Unusable;
            probe.reason = LoaderError(opened.file + ": " + name);
            break;
        }
    }
    ::dlclose(opened.handle);
    return probe;
}

} // namespace kestlin
