#include "packaging/clsCryptFile.h"

#include "common/cp932.h"
#include "common/fdio.h"
#include "common/files.h"
#include "common/syserror.h"
#include "packaging/CryptRc4.h"
#include "packaging/CryptText.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestlin {

namespace {
constexpr char kMissingForEncrypt[] = "暗号化を行うファイルが存在しません。";
constexpr char kMissingForDecrypt[] = "複合化を行うファイルが存在しません。";
constexpr char kNoPassword[] = "パスワードが指定されていません。"
                               "パスワードのない暗号化には対応していません。";
constexpr char kSameFile[] = "暗号化の入力ファイルと出力ファイルが同じファイルです。";

// The unit of progress reports; the files themselves move through a buffer
// of whole blocks, about 1 MiB, so that no block straddles two reads.
constexpr std::size_t kBlockBytes = 1002;
constexpr std::size_t kBufferBytes = kBlockBytes * 1046;

class CryptFd
{
public:
    explicit CryptFd(int fd)
        : fd_(fd)
    { }
    ~CryptFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    CryptFd(const CryptFd &) = delete;
    CryptFd &operator=(const CryptFd &) = delete;

    int get() const { return fd_; }
    bool Close(std::string &reason)
    {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) == 0)
            return true;
        reason = SystemErrorText(errno);
        return false;
    }

private:
    int fd_;
};

// Writing over the input would destroy it before it has been read.
bool SameFile(const struct stat &input, const std::string &path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == input.st_dev && st.st_ino == input.st_ino;
}
} // namespace

bool clsCryptFile::Encrypt(int16_t iMode)
{
    return RunMode(iMode, true);
}

bool clsCryptFile::Decrypt(int16_t iMode)
{
    return RunMode(iMode, false);
}

bool clsCryptFile::RunMode(int16_t iMode, bool encrypt)
{
    if (iMode != 0 && iMode != 1)
        return false;
    std::string reason;
    bool ok = false;
    try {
        ok = iMode == 0 ? RunFile(encrypt, reason) : RunText(encrypt, reason);
    } catch (const std::bad_alloc &) {
        ok = false;
        reason = SystemErrorText(ENOMEM);
    } catch (const std::exception &e) {
        ok = false;
        reason = e.what();
    }
    if (!ok)
        errMsg_ = reason;
    if (Crypted)
        Crypted();
    return ok;
}

bool clsCryptFile::RunText(bool encrypt, std::string &reason)
{
    return CryptTextWithLibrary(encrypt, cp932::RoundTrip(inFile_), password_, outFile_, reason);
}

bool clsCryptFile::RunFile(bool encrypt, std::string &reason)
{
    if (!OrdinaryFileExists(inFile_)) {
        reason = encrypt ? kMissingForEncrypt : kMissingForDecrypt;
        return false;
    }
    // Without a password the files would need a per-user key store; no caller
    // uses that, so it is refused before anything is written.
    if (password_.empty()) {
        reason = kNoPassword;
        return false;
    }
    CryptRc4 rc4;
    if (!rc4.Start(cp932::FromUtf8(password_), reason))
        return false;

    CryptFd in(::open(inFile_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat inStat
    {
    };
    if (in.get() < 0 || ::fstat(in.get(), &inStat) != 0) {
        reason = SystemErrorText(errno);
        return false;
    }
    if (SameFile(inStat, outFile_)) {
        reason = kSameFile;
        return false;
    }
    // Non-blocking only for the open itself: a named pipe without a reader at
    // OutFile must fail at once rather than hang the window.
    CryptFd out(
        ::open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666));
    if (out.get() < 0 || ::fcntl(out.get(), F_SETFL, 0) != 0) {
        reason = SystemErrorText(errno);
        return false;
    }

    const int64_t fileBytes = inStat.st_size;
    int64_t cryptBytes = 0;
    std::vector<unsigned char> buffer(kBufferBytes);
    for (bool finalBlock = false; !finalBlock;) {
        std::size_t got = 0;
        if (!ReadUpTo(in.get(), buffer.data(), buffer.size(), got)) {
            reason = SystemErrorText(errno);
            return false;
        }
        if (!rc4.Apply(buffer.data(), got, reason)) {
            reason = (encrypt ? "CryptEncrypt Error!" : "CryptDecrypt Error!") + reason;
            return false;
        }
        if (!WriteAll(out.get(), buffer.data(), got)) {
            reason = SystemErrorText(errno);
            return false;
        }
        // The blocks of this buffer are on their way to the disk: report each.
        // A buffer of whole blocks is followed by another read, so an input of
        // whole blocks ends with an empty final block, as progress expects.
        std::size_t at = 0;
        do {
            const std::size_t count = std::min(kBlockBytes, got - at);
            at += count;
            cryptBytes += static_cast<int64_t>(count);
            finalBlock = count < kBlockBytes;
            if (Crypting)
                Crypting(cryptBytes, fileBytes);
        } while (!finalBlock && at < got);
    }
    return out.Close(reason) && in.Close(reason);
}

} // namespace kestlin
