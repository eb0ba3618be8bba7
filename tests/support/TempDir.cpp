#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestlin::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestlin-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
}

TempDir::~TempDir()
{
    // Give every entry its write bit back so that the removal cannot fail.
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec))
            ::chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string &name) const
{
    return path_ + "/" + name;
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
constexpr unsigned kOverrides
    = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

bool AdjustEffective(bool drop)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    if (drop)
        data[0].effective &= ~kOverrides;
    else
        data[0].effective |= (data[0].permitted & kOverrides);
    return ::syscall(SYS_capset, &header, data) == 0;
}
} // namespace

PermissionsEnforced::PermissionsEnforced()
{
    dropped_ = ::geteuid() == 0 && AdjustEffective(true);
}

PermissionsEnforced::~PermissionsEnforced()
{
    if (dropped_)
        AdjustEffective(false);
}

} // namespace kestlin::test
