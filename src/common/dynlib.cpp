#include "common/dynlib.h"

#include "common/files.h"
#include "common/programfolder.h"

#include <dlfcn.h>

namespace kestlin {

namespace {
void *Open(const std::string &fileName, int flags, std::string *reason)
{
    const std::string local = JoinPath(ProgramFolder(), fileName);
    if (OrdinaryFileExists(local)) {
        if (void *handle = ::dlopen(local.c_str(), flags))
            return handle;
    }
    void *handle = ::dlopen(fileName.c_str(), flags);
    if (!handle && reason) {
        const char *error = ::dlerror();
        *reason = fileName + " を読み込めません。" + (error ? std::string(" ") + error : "");
    }
    return handle;
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
    handle_ = Open(fileName, RTLD_NOW | RTLD_LOCAL, &reason);
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

bool LibraryCanBeFound(const std::string &fileName)
{
    void *handle = Open(fileName, RTLD_LAZY | RTLD_LOCAL, nullptr);
    if (handle)
        ::dlclose(handle);
    return handle != nullptr;
}

} // namespace kestlin
