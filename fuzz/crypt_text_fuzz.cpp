// The encrypted text of stored passwords, through the C interface of
// libcapicom.so: decrypting any text either fails with a code and a reason or
// gives valid UTF-8; encrypting a text gives Base64 in CR LF lines of at most
// 64 characters that decrypts to the same text with and without its line
// breaks, and only an empty text or one that is not UTF-8 is refused.
// Input: the password (ended by "\" and one more character), then the text;
// its first bytes also serve as the IV and the salt.
#include "FuzzCheck.h"
#include "platform/capicom/capicom.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <optional>
#include <string>

namespace {

using Object = std::unique_ptr<capicom_ed, decltype(&capicom_ed_destroy)>;

std::optional<std::string> Decrypt(capicom_ed *object, const std::string &message)
{
    char *content = nullptr;
    std::size_t length = 0;
    const int code = capicom_ed_decrypt(object, message.data(), message.size(), &content, &length);
    if (code != CAPICOM_OK) {
        FUZZ_CHECK(code >= CAPICOM_E_ARGUMENT && code <= CAPICOM_E_MEMORY && !content);
        FUZZ_CHECK(*capicom_ed_error(object) != '\0');
        return std::nullopt;
    }
    FUZZ_CHECK(content && content[length] == '\0');
    std::string text(content, length);
    capicom_free(content);
    FUZZ_CHECK(kestlin::fuzz::IsUtf8(text));
    return text;
}

// Base64 in lines of at most 64 characters, each ended by CR LF.
bool Framed(const std::string &base64)
{
    std::size_t column = 0;
    for (std::size_t i = 0; i < base64.size(); ++i) {
        const char c = base64[i];
        if (c == '\r') {
            if (column == 0 || i + 1 >= base64.size() || base64[++i] != '\n')
                return false;
            column = 0;
        } else if (++column > 64
                   || !(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/'
                        || c == '=')) {
            return false;
        }
    }
    return !base64.empty() && column == 0;
}

void RoundTrip(capicom_ed *object, const std::string &text)
{
    unsigned char iv[8] = {};
    unsigned char salt[16] = {};
    std::memcpy(iv, text.data(), std::min(text.size(), sizeof iv));
    const std::size_t saltLength
        = text.size() > sizeof iv ? std::min(text.size() - sizeof iv, sizeof salt) : 0;
    std::memcpy(salt, text.data() + std::min(text.size(), sizeof iv), saltLength);

    char *base64 = nullptr;
    const int code
        = capicom_ed_encrypt_with(object, text.data(), text.size(), iv, salt, saltLength, &base64);
    if (text.empty() || !kestlin::fuzz::IsUtf8(text)) {
        FUZZ_CHECK(code == (text.empty() ? CAPICOM_E_EMPTY : CAPICOM_E_TEXT) && !base64);
        return;
    }
    FUZZ_CHECK(code == CAPICOM_OK && base64);
    const std::string framed(base64);
    capicom_free(base64);
    FUZZ_CHECK(Framed(framed));
    FUZZ_CHECK(Decrypt(object, framed) == text);
    std::string stored;
    for (char c : framed) {
        if (c != '\r' && c != '\n')
            stored.push_back(c);
    }
    FUZZ_CHECK(Decrypt(object, stored) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::string password = input.ConsumeRandomLengthString(64);
    password.resize(std::strlen(password.c_str())); // a C string
    const std::string text = input.ConsumeRemainingBytesAsString();

    Object object(capicom_ed_create(), capicom_ed_destroy);
    FUZZ_CHECK(object);
    FUZZ_CHECK(capicom_ed_set_algorithm(object.get(), CAPICOM_ENCRYPTION_ALGORITHM_DES,
                                        CAPICOM_ENCRYPTION_KEY_LENGTH_MAXIMUM)
               == CAPICOM_OK);
    const int secret = capicom_ed_set_secret(object.get(), password.c_str());
    if (secret != CAPICOM_OK) {
        FUZZ_CHECK(secret == (password.empty() ? CAPICOM_E_NO_SECRET : CAPICOM_E_TEXT));
        FUZZ_CHECK(!kestlin::fuzz::IsUtf8(password) || password.empty());
        return 0;
    }
    Decrypt(object.get(), text);
    RoundTrip(object.get(), text);
    return 0;
}
