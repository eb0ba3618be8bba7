#pragma once
// A library of the program loaded at run time by file name: first from the
// program folder, then wherever the dynamic loader looks.
#include <string>
#include <vector>

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

private:
    void *Symbol(const char *name, std::string &reason) const;

    void *handle_ = nullptr;
    std::string fileName_;
};

// What loading a library, by the same search as SharedLibrary::Load, and
// looking up its entry points gives.
struct LibraryProbe
{
    enum class State {
        Usable, // loaded, every entry point there
        Missing, // no file of that name where the program looks
        Unusable, // there, but the loader refuses it or an entry point is not in it
    };
    State state = State::Missing;
    std::string file; // the file found (the name when the loader searched for it)
    std::string reason; // for Unusable: the loader's own words
};
LibraryProbe ProbeLibrary(const std::string &fileName, const std::vector<std::string> &entryPoints);

} // namespace kestlin
