// Checking and extracting cabinets with libcab32: the input is either a
// cabinet as it stands, or the recipe of one that our own writer makes and
// then spoils (names that lead outside, code page 932 names whose second byte
// is "\", file entries that overlap or run past their folder, damaged bytes
// and checksums, odd methods). Each is extracted into a fresh folder inside a
// fresh parent. Properties: nothing appears outside that folder, and the
// check and the extraction agree: a cabinet whose headers fail is refused as
// not a cabinet or as damaged; one whose full check fails does not extract;
// one that passes it meets no damaged data when every file is extracted.
#include "FuzzCheck.h"
#include "cab32.h"
#include "cabwriter.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fuzzer/FuzzedDataProvider.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kestlin;
namespace fs = std::filesystem;

namespace {

// Names a hostile writer would store; the CP932 ones have "\" as the second
// byte of a character (ソ, 能, 表) or end in a lone lead byte.
const char *const kNames[] = {
    "..\\evil.txt",
    "\\evil.txt",
    "/evil.txt",
    "C:\\evil.txt",
    "c:evil.txt",
    "ok\\..\\..\\evil.txt",
    "ok/../../evil.txt",
    "..",
    ".",
    "ok\\.\\x",
    "a\\b\\c.txt",
    "a",
    "a\\b",
    "\x83\x5C\\\x94\x5C.txt",
    "\x95\x5C",
    "\x95\x5C\\..\\x",
    "\x83",
    "\xE8\xA1\xA8.txt",
    "MAIN_TEXT.txt",
    "main_text.TXT",
};

std::string Content(FuzzedDataProvider &in)
{
    const size_t size = in.ConsumeIntegralInRange<size_t>(0, 40000);
    const bool noisy = in.ConsumeBool();
    uint32_t seed = in.ConsumeIntegral<uint8_t>() + 1u;
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(noisy ? seed >> 16 : "報告,123\r\n"[i % 12]);
    }
    return bytes;
}

void PutLE(std::string &b, size_t at, int bytes, uint32_t v)
{
    for (int i = 0; i < bytes && at + static_cast<size_t>(i) < b.size(); ++i, v >>= 8)
        b[at + static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
}

// Where the file entries begin (the writer reserves no fields).
std::vector<size_t> FileEntries(const std::string &cab)
{
    std::vector<size_t> at;
    size_t p = static_cast<uint8_t>(cab[16]) | static_cast<uint8_t>(cab[17]) << 8;
    for (size_t i = static_cast<uint8_t>(cab[28]); i > 0 && p + 16 < cab.size(); --i) {
        at.push_back(p);
        p = cab.find('\0', p + 16) + 1;
    }
    return at;
}

void Spoil(FuzzedDataProvider &in, std::string &cab, uint32_t total)
{
    const std::vector<size_t> files = FileEntries(cab);
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0 && !files.empty(); --n) {
        const size_t entry = files[in.ConsumeIntegralInRange<size_t>(0, files.size() - 1)];
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: // a range anywhere near the folder's data: overlaps, beyond the end
            PutLE(cab, entry + 4, 4, in.ConsumeIntegralInRange<uint32_t>(0, total + 2));
            PutLE(cab, entry, 4, in.ConsumeIntegralInRange<uint32_t>(0, total + 2));
            break;
        case 1: // a damaged byte anywhere: checksums, sizes, compressed data
            cab[in.ConsumeIntegralInRange<size_t>(0, cab.size() - 1)]
                ^= static_cast<char>(in.ConsumeIntegralInRange(1, 255));
            break;
        case 2: // the folder's method, parameters included
            PutLE(cab, 36 + 6, 2, in.ConsumeIntegral<uint16_t>());
            break;
        case 3: // the folder index, also the "continued" ones
            PutLE(cab, entry + 8, 2, in.ConsumeIntegralInRange<uint32_t>(0xFFFA, 0x10001));
            break;
        default: // the attributes, the UTF-8 name flag among them
            PutLE(cab, entry + 14, 2, in.ConsumeIntegral<uint8_t>());
            break;
        }
    }
}

// A cabinet by our writer from the recipe, then spoilt.
std::string Generate(FuzzedDataProvider &in, const fs::path &root)
{
    fs::create_directory(root / "src");
    std::vector<cab32::Entry> entries;
    uint32_t total = 0;
    for (int i = in.ConsumeIntegralInRange(1, 5); i > 0; --i) {
        cab32::Entry e;
        e.storedName
            = in.ConsumeBool()
                  ? std::string(kNames[in.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)])
                  : in.ConsumeRandomLengthString(40);
        if (e.storedName.empty())
            e.storedName = "x";
        const std::string content = Content(in);
        e.path = root / "src" / std::to_string(entries.size());
        const int fd = ::open(e.path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
        FUZZ_CHECK(fd >= 0
                   && ::write(fd, content.data(), content.size()) == ssize_t(content.size()));
        ::close(fd);
        e.displayName = e.path;
        e.size = content.size();
        e.attributes = 0x20;
        total += static_cast<uint32_t>(content.size());
        entries.push_back(e);
    }
    const std::string path = root / "made.cab";
    const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC | O_CLOEXEC, 0644);
    cab32::WriteResult written;
    const auto method = in.ConsumeBool() ? cab32::Method::Mszip : cab32::Method::None;
    cab32::Limits limits;
    limits.workers = 1;
    FUZZ_CHECK(cab32::WriteCabinet(entries, method, limits, fd, written).ok());
    std::string cab(written.cabinetBytes, '\0');
    FUZZ_CHECK(::pread(fd, cab.data(), cab.size(), 0) == ssize_t(cab.size()));
    ::close(fd);
    Spoil(in, cab, total);
    return cab;
}

std::set<std::string> Names(const fs::path &folder)
{
    std::set<std::string> names;
    std::error_code error;
    for (const auto &e : fs::directory_iterator(folder, error))
        names.insert(e.path().filename());
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    char pattern[] = "/tmp/cab_extract_fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern));
    const fs::path root = pattern;
    const bool generated = in.ConsumeBool();
    const std::string cab = generated ? Generate(in, root) : in.ConsumeRemainingBytesAsString();
    fs::remove_all(root / "src");
    fs::remove(root / "made.cab");

    const std::string path = root / "in.cab";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0 && ::write(fd, cab.data(), cab.size()) == ssize_t(cab.size()));
    ::close(fd);
    fs::create_directory(root / "parent");

    const bool headers = CabCheckArchive(path.c_str(), CAB32_CHECK_HEADERS) != 0;
    const bool full = CabCheckArchive(path.c_str(), CAB32_CHECK_FULL) != 0;
    const std::string line = "-x -o \"" + path + "\" \"" + (root / "parent/dest/").string() + "\"";
    char text[512] = "";
    const int32_t rc = Cab(1, line.c_str(), text, sizeof text);

    FUZZ_CHECK(text[0] != '\0');
    FUZZ_CHECK(headers || !full);
    if (!headers)
        FUZZ_CHECK(rc == CAB32_E_NOTCAB || rc == CAB32_E_DATA);
    else if (!full)
        FUZZ_CHECK(rc != CAB32_OK);
    else
        FUZZ_CHECK(rc == CAB32_OK || rc == CAB32_E_BADNAME || rc == CAB32_E_WRITE);
    FUZZ_CHECK(Names(root) == (std::set<std::string> { "in.cab", "parent" }));
    const std::set<std::string> inParent = Names(root / "parent");
    FUZZ_CHECK(inParent.empty() || inParent == std::set<std::string> { "dest" });
    fs::remove_all(root);
    return 0;
}
