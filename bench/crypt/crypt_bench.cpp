// Times Encrypt(0) against `openssl enc -rc4` under the same key on the same
// file, each in a process of its own so that each peak resident size is its own.
//
//   crypt_bench compare <input> <scratch folder> [runs]
//   crypt_bench encrypt <input> <output>          (the measured child)
#include "packaging/clsCryptFile.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {
constexpr char kPassword[] = "Ruda";

struct Measure
{
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

Measure Spawn(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (auto &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    Measure m;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return m;
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakKiB = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The key the provider derives from the password, as openssl's -K wants it.
std::string KeyHex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(kPassword, std::strlen(kPassword), digest, &length, EVP_md5(), nullptr);
    char hex[33] = {};
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", i < 5 ? digest[i] : 0);
    return hex;
}

bool SameContent(const std::string &a, const std::string &b)
{
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20);
    std::vector<char> bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount()
            || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
    }
    return !fa && !fb;
}

int Compare(const std::string &self, const std::string &input, const std::string &scratch, int runs)
{
    const std::string ours = scratch + "/ours.bin";
    const std::string theirs = scratch + "/openssl.bin";
    const std::vector<std::string> oursArgs = { self, "encrypt", input, ours };
    const std::vector<std::string> theirsArgs
        = { "openssl",   "enc",     "-rc4", "-K",  KeyHex(), "-provider", "legacy",
            "-provider", "default", "-in",  input, "-out",   theirs };
    Measure best[2];
    long oursPeak = 0;
    for (int run = 0; run < runs; ++run) {
        // Alternate, so that neither side always meets a warmer cache.
        for (int side : { run % 2, 1 - run % 2 }) {
            const Measure m = Spawn(side == 0 ? oursArgs : theirsArgs);
            if (!m.ok) {
                std::fprintf(stderr, "%s failed\n", side == 0 ? "Encrypt(0)" : "openssl enc");
                return 1;
            }
            if (run == 0 || m.seconds < best[side].seconds)
                best[side] = m;
            if (side == 0)
                oursPeak = std::max(oursPeak, m.peakKiB);
        }
    }
    const bool same = SameContent(ours, theirs);
    std::printf("  Encrypt(0)   best %.3f s   peak RSS %.1f MiB\n", best[0].seconds,
                oursPeak / 1024.0);
    std::printf("  openssl enc  best %.3f s   peak RSS %.1f MiB\n", best[1].seconds,
                best[1].peakKiB / 1024.0);
    std::printf("  time ratio (ours / openssl) %.2f   outputs %s\n",
                best[0].seconds / best[1].seconds, same ? "identical" : "DIFFER");
    std::remove(ours.c_str());
    std::remove(theirs.c_str());
    return same ? 0 : 1;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "encrypt") == 0) {
        kestlin::clsCryptFile crypt;
        crypt.InFile(argv[2]);
        crypt.OutFile(argv[3]);
        crypt.Password(kPassword);
        if (crypt.Encrypt(0))
            return 0;
        std::fprintf(stderr, "%s\n", crypt.GetErrMsg().c_str());
        return 1;
    }
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "compare") == 0)
        return Compare(argv[0], argv[2], argv[3], argc == 5 ? std::max(1, std::atoi(argv[4])) : 3);
    std::fprintf(stderr,
                 "usage: %s compare <input> <scratch folder> [runs]\n"
                 "       %s encrypt <input> <output>\n",
                 argv[0], argv[0]);
    return 2;
}
