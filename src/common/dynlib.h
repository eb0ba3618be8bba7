#pragma once
// A library of the program loaded at run time by file name: first from the
// program folder, then wherever the dynamic loader looks.
#include <string>

namespace kestlin {

class SharedLibrary
{
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary &) = delete;
    SharedLibrary &operator=(const SharedLibrary &) = delete;

    // False with a reason naming the library when it cannot be loaded.
    bool Load(const std::string &fileName, std::string &reason);

    // The entry point, or nullptr with a reason naming it and the library.
    template<typename F>
    F Function(const char *name, std::string &reason) const
    {
        return reinterpret_cast<F>(Symbol(name, reason));
    }

    bool IsLoaded() const { return handle_ != nullptr; }

private:
    void *Symbol(const char *name, std::string &reason) const;

    void *handle_ = nullptr;
    std::string fileName_;
};

// The library can be found, by the same search as SharedLibrary::Load.
bool LibraryCanBeFound(const std::string &fileName);

} // namespace kestlin
