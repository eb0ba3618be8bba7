#pragma once
// RC4 under the key that the Windows base provider derives from a password:
// MD5 of the password bytes, the first 5 bytes of the digest followed by 11
// zero bytes. RC4 lives in OpenSSL's legacy provider, which is loaded into a
// library context of our own so that the rest of the process never sees it.
#include <cstddef>
#include <string>
#include <string_view>

typedef struct ossl_lib_ctx_st OSSL_LIB_CTX;
typedef struct ossl_provider_st OSSL_PROVIDER;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace kestlin {

class CryptRc4
{
public:
    CryptRc4() = default;
    ~CryptRc4();
    CryptRc4(const CryptRc4 &) = delete;
    CryptRc4 &operator=(const CryptRc4 &) = delete;

    // Prepares the keystream for these password bytes. False with a reason.
    bool Start(std::string_view password, std::string &reason);
    // XORs the next bytes of the keystream into data. False with a reason.
    bool Apply(unsigned char *data, std::size_t length, std::string &reason);

private:
    bool LoadProviders(std::string &reason);

    OSSL_LIB_CTX *lib_ = nullptr;
    OSSL_PROVIDER *default_ = nullptr;
    OSSL_PROVIDER *legacy_ = nullptr;
    EVP_CIPHER_CTX *cipher_ = nullptr;
};

} // namespace kestlin
