#include "packaging/CryptRc4.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>

namespace kestlin {

namespace {
// The base provider's default RC4 key: 40 bits, salted with 11 zero bytes.
constexpr std::size_t kKeyBytes = 5;
constexpr std::size_t kRc4KeyBytes = 16;

struct MdFree
{
    void operator()(EVP_MD *md) const { EVP_MD_free(md); }
};
struct CipherFree
{
    void operator()(EVP_CIPHER *cipher) const { EVP_CIPHER_free(cipher); }
};

// The last OpenSSL error of this thread, and nothing left behind in its queue.
std::string OpenSslDetail()
{
    char text[256] = {};
    if (unsigned long code = ERR_peek_last_error())
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text[0] ? std::string(" (") + text + ")" : std::string();
}
} // namespace

CryptRc4::~CryptRc4()
{
    EVP_CIPHER_CTX_free(cipher_);
    OSSL_PROVIDER_unload(legacy_);
    OSSL_PROVIDER_unload(default_);
    OSSL_LIB_CTX_free(lib_);
}

bool CryptRc4::LoadProviders(std::string &reason)
{
    lib_ = OSSL_LIB_CTX_new();
    if (lib_)
        default_ = OSSL_PROVIDER_load(lib_, "default");
    if (default_)
        legacy_ = OSSL_PROVIDER_load(lib_, "legacy");
    if (legacy_)
        return true;
    reason = std::string("CryptAcquireContext Error! RC4 に必要な OpenSSL の ")
             + (default_ ? "legacy" : "default") + " プロバイダーを読み込めません。"
             + OpenSslDetail();
    return false;
}

bool CryptRc4::Start(std::string_view password, std::string &reason)
{
    if (!LoadProviders(reason))
        return false;
    std::unique_ptr<EVP_MD, MdFree> md5(EVP_MD_fetch(lib_, "MD5", nullptr));
    if (!md5) {
        reason = "CryptCreateHash Error!" + OpenSslDetail();
        return false;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest {};
    unsigned int digestLength = 0;
    if (!EVP_Digest(password.data(), password.size(), digest.data(), &digestLength, md5.get(),
                    nullptr)) {
        reason = "CryptHashData Error!" + OpenSslDetail();
        return false;
    }
    std::array<unsigned char, kRc4KeyBytes> key {};
    std::copy_n(digest.begin(), kKeyBytes, key.begin());
    std::unique_ptr<EVP_CIPHER, CipherFree> rc4(EVP_CIPHER_fetch(lib_, "RC4", nullptr));
    cipher_ = EVP_CIPHER_CTX_new();
    const bool ok
        = rc4 && cipher_ && EVP_CipherInit_ex2(cipher_, rc4.get(), key.data(), nullptr, 1, nullptr);
    OPENSSL_cleanse(key.data(), key.size());
    OPENSSL_cleanse(digest.data(), digest.size());
    if (!ok)
        reason = "CryptDeriveKey Error!" + OpenSslDetail();
    return ok;
}

bool CryptRc4::Apply(unsigned char *data, std::size_t length, std::string &reason)
{
    while (length > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
        int written = 0;
        if (!cipher_ || !EVP_CipherUpdate(cipher_, data, &written, data, chunk)
            || written != chunk) {
            reason = OpenSslDetail();
            return false;
        }
        data += chunk;
        length -= static_cast<std::size_t>(chunk);
    }
    return true;
}

} // namespace kestlin
