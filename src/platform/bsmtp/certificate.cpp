#include "certificate.h"

#include <arpa/inet.h>
#include <ctime>
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <vector>

namespace bsmtp {

namespace {

template<class T, void (*Free)(T *)>
struct Deleter
{
    void operator()(T *p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using ContextPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;

void FreeBio(BIO *bio)
{
    BIO_free(bio);
}
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, FreeBio>>;

void FreeChain(STACK_OF(X509) * chain)
{
    sk_X509_free(chain);
}
using ChainPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), FreeChain>>;

// The chain as the server sent it, its own certificate first.
std::vector<X509Ptr> Chain(CURL *curl)
{
    std::vector<X509Ptr> chain;
    curl_certinfo *info = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || !info)
        return chain;
    for (int i = 0; i < info->num_of_certs; ++i) {
        for (const curl_slist *field = info->certinfo[i]; field; field = field->next) {
            const std::string text = field->data;
            if (text.compare(0, 5, "Cert:") != 0)
                continue;
            BioPtr bio(BIO_new_mem_buf(text.data() + 5, static_cast<int>(text.size() - 5)));
            X509Ptr certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)
                                    : nullptr);
            if (certificate)
                chain.push_back(std::move(certificate));
        }
    }
    return chain;
}

std::string Name(const X509_NAME *name)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    // UTF-8 as it stands, control characters escaped.
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(size));
}

std::string Time(const ASN1_TIME *time)
{
    std::tm parts {};
    char text[32] = {};
    if (!ASN1_TIME_to_tm(time, &parts)
        || !std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S UTC", &parts))
        return "?";
    return text;
}

std::string Fingerprint(const X509 *certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha256(), digest, &length);
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i)
            text += ':';
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

// curl's pin: the SHA-256 of the DER SubjectPublicKeyInfo, in Base64.
std::string Pin(X509 *certificate)
{
    EVP_PKEY *key = X509_get0_pubkey(certificate);
    const int size = key ? i2d_PUBKEY(key, nullptr) : -1;
    if (size <= 0)
        return {};
    std::vector<unsigned char> der(static_cast<size_t>(size));
    unsigned char *end = der.data();
    i2d_PUBKEY(key, &end);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha256(), nullptr);
    std::string base64(4 * ((length + 2) / 3) + 1, '\0');
    base64.resize(static_cast<size_t>(EVP_EncodeBlock(
        reinterpret_cast<unsigned char *>(base64.data()), digest, static_cast<int>(length))));
    return "sha256//" + base64;
}

// The security level the system's OpenSSL configuration gives a TLS client
// (Debian: 2): what a key or signature must be worth, as curl demands it.
int SecurityLevel()
{
    static const int level = [] {
        OPENSSL_init_ssl(OPENSSL_INIT_LOAD_CONFIG, nullptr);
        SSL_CTX *context = SSL_CTX_new(TLS_client_method());
        const int value = context ? SSL_CTX_get_security_level(context) : 2;
        SSL_CTX_free(context);
        return value;
    }();
    return level;
}

// The chain against the trust store curl itself would use.
long VerifyChain(CURL *curl, const std::vector<X509Ptr> &chain)
{
    StorePtr store(X509_STORE_new());
    ContextPtr context(X509_STORE_CTX_new());
    ChainPtr untrusted(sk_X509_new_null());
    if (!store || !context || !untrusted)
        return X509_V_ERR_OUT_OF_MEM;
    char *file = nullptr, *folder = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &file) == CURLE_OK && file)
        X509_STORE_load_file(store.get(), file);
    if (curl_easy_getinfo(curl, CURLINFO_CAPATH, &folder) == CURLE_OK && folder)
        X509_STORE_load_path(store.get(), folder);
    // As curl does: a certificate of the store may end the chain.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_TRUSTED_FIRST);
    for (size_t i = 1; i < chain.size(); ++i)
        sk_X509_push(untrusted.get(), chain[i].get());
    if (!X509_STORE_CTX_init(context.get(), store.get(), chain[0].get(), untrusted.get()))
        return X509_V_ERR_UNSPECIFIED;
    X509_STORE_CTX_set_default(context.get(), "ssl_server");
    X509_VERIFY_PARAM_set_auth_level(X509_STORE_CTX_get0_param(context.get()), SecurityLevel());
    return X509_verify_cert(context.get()) == 1 ? X509_V_OK
                                                : X509_STORE_CTX_get_error(context.get());
}

std::string ChainProblem(long result)
{
    switch (result) {
    case X509_V_OK:
        return {};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "この証明書は、このコンピューターが信頼する認証局のものではありません。";
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "この証明書は有効期間の外にあります。";
    case X509_V_ERR_EE_KEY_TOO_SMALL:
    case X509_V_ERR_CA_KEY_TOO_SMALL:
    case X509_V_ERR_CA_MD_TOO_WEAK:
        return std::string("この証明書の鍵または署名は、今では安全とはいえない強さです(")
               + X509_verify_cert_error_string(result) + ")。";
    default:
        return std::string("この証明書を確かめられません(") + X509_verify_cert_error_string(result)
               + ")。";
    }
}

} // namespace

bool IsTooWeak(long verifyResult)
{
    return verifyResult == X509_V_ERR_EE_KEY_TOO_SMALL
           || verifyResult == X509_V_ERR_CA_KEY_TOO_SMALL
           || verifyResult == X509_V_ERR_CA_MD_TOO_WEAK;
}

bool IsAddress(const std::string &host)
{
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1
           || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

bool ReadCertificate(CURL *curl, const std::string &host, Certificate &certificate,
                     std::string &reason)
{
    const std::vector<X509Ptr> chain = Chain(curl);
    if (chain.empty()) {
        reason = "サーバー証明書を読み取れません。";
        return false;
    }
    X509 *leaf = chain[0].get();
    certificate.subject = Name(X509_get_subject_name(leaf));
    certificate.issuer = Name(X509_get_issuer_name(leaf));
    certificate.validFrom = Time(X509_get0_notBefore(leaf));
    certificate.validUntil = Time(X509_get0_notAfter(leaf));
    certificate.fingerprint = Fingerprint(leaf);
    certificate.pin = Pin(leaf);
    if (certificate.pin.empty()) {
        reason = "サーバー証明書の公開鍵を読み取れません。";
        return false;
    }
    // Both the issuer and the name are told, when both are wrong.
    const long chainResult = VerifyChain(curl, chain);
    const bool named = IsAddress(host)
                           ? X509_check_ip_asc(leaf, host.c_str(), 0) == 1
                           : X509_check_host(leaf, host.data(), host.size(),
                                             X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr)
                                 == 1;
    certificate.verifyResult = chainResult != X509_V_OK
                                   ? chainResult
                                   : (named ? X509_V_OK
                                            : (IsAddress(host) ? X509_V_ERR_IP_ADDRESS_MISMATCH
                                                               : X509_V_ERR_HOSTNAME_MISMATCH));
    certificate.problem = ChainProblem(chainResult);
    if (!named)
        certificate.problem
            += "この証明書は、設定したサーバー名 " + host + " に宛てたものではありません。";
    return true;
}

} // namespace bsmtp
