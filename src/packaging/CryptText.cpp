#include "packaging/CryptText.h"

#include "common/dynlib.h"
#include "platform/capicom/capicom.h"

#include <memory>

namespace kestlin {

namespace {
struct CapicomApi
{
    decltype(&capicom_ed_create) create = nullptr;
    decltype(&capicom_ed_destroy) destroy = nullptr;
    decltype(&capicom_ed_set_algorithm) setAlgorithm = nullptr;
    decltype(&capicom_ed_set_secret) setSecret = nullptr;
    decltype(&capicom_ed_encrypt) encrypt = nullptr;
    decltype(&capicom_ed_decrypt) decrypt = nullptr;
    decltype(&capicom_ed_error) error = nullptr;
    decltype(&capicom_free) release = nullptr;
};

template<typename F>
bool Resolve(const SharedLibrary &library, const char *name, F &target, std::string &reason)
{
    target = library.Function<F>(name, reason);
    return target != nullptr;
}

bool LoadApi(SharedLibrary &library, CapicomApi &api, std::string &reason)
{
    return library.Load(CAPICOM_LIBRARY_NAME, reason)
           && Resolve(library, "capicom_ed_create", api.create, reason)
           && Resolve(library, "capicom_ed_destroy", api.destroy, reason)
           && Resolve(library, "capicom_ed_set_algorithm", api.setAlgorithm, reason)
           && Resolve(library, "capicom_ed_set_secret", api.setSecret, reason)
           && Resolve(library, "capicom_ed_encrypt", api.encrypt, reason)
           && Resolve(library, "capicom_ed_decrypt", api.decrypt, reason)
           && Resolve(library, "capicom_ed_error", api.error, reason)
           && Resolve(library, "capicom_free", api.release, reason);
}

bool Run(const CapicomApi &api, capicom_ed *object, bool encrypt, const std::string &text,
         const std::string &password, std::string &result)
{
    if (api.setAlgorithm(object, CAPICOM_ENCRYPTION_ALGORITHM_DES,
                         CAPICOM_ENCRYPTION_KEY_LENGTH_MAXIMUM)
        != CAPICOM_OK)
        return false;
    if (api.setSecret(object, password.c_str()) != CAPICOM_OK)
        return false;
    char *output = nullptr;
    std::size_t length = 0;
    const int code = encrypt ? api.encrypt(object, text.data(), text.size(), &output)
                             : api.decrypt(object, text.data(), text.size(), &output, &length);
    if (code != CAPICOM_OK)
        return false;
    std::unique_ptr<char, decltype(api.release)> owned(output, api.release);
    result = encrypt ? std::string(output) : std::string(output, length);
    return true;
}
} // namespace

bool CryptTextWithLibrary(bool encrypt, const std::string &text, const std::string &password,
                          std::string &result, std::string &reason)
{
    SharedLibrary library;
    CapicomApi api;
    if (!LoadApi(library, api, reason))
        return false;
    std::unique_ptr<capicom_ed, decltype(api.destroy)> object(api.create(), api.destroy);
    if (!object) {
        reason = CAPICOM_LIBRARY_NAME " のオブジェクトを作れません。";
        return false;
    }
    std::string output;
    if (!Run(api, object.get(), encrypt, text, password, output)) {
        reason = api.error(object.get());
        return false;
    }
    result = std::move(output);
    return true;
}

} // namespace kestlin
