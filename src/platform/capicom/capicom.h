#ifndef KESTLIN_CAPICOM_H
#define KESTLIN_CAPICOM_H
/*
 * libcapicom.so: an encrypted-data object that turns a short text into a
 * password-protected message in Base64 and back.
 *
 * The messages are byte-compatible with those of the Windows component this
 * library stands in for ("CAPICOM.DLL", object "EncryptedData", DES with a
 * password secret), so that stored values move between the two platforms:
 *
 *   SEQUENCE {
 *     OID 1.3.6.1.4.1.311.88.3
 *     [0] EXPLICIT SEQUENCE {
 *       OID 1.3.6.1.4.1.311.88.3.1
 *       [0] EXPLICIT SEQUENCE {
 *         INTEGER version (0x00020001 written; 0x00020000 accepted)
 *         INTEGER algorithm (0x6601, DES)
 *         INTEGER key bits (64)
 *         OCTET STRING iv (8 bytes)
 *         OCTET STRING salt (16 bytes written)
 *         OCTET STRING ciphertext } } }
 *
 *   key        = first 8 bytes of SHA-1(secret as UTF-16LE || salt)
 *   ciphertext = DES-CBC(key, iv, PKCS#5 padding) of the content as UTF-16LE
 *   output     = Base64 in lines of 64 characters, each ended by CR LF
 *
 * Text crosses this interface as UTF-8. Every function reports failure by a
 * non-zero CAPICOM_E_* code; the object then holds a UTF-8 description of the
 * failure (capicom_ed_error). An object is used from one thread at a time.
 */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define CAPICOM_API __attribute__((visibility("default")))
#else
#define CAPICOM_API
#endif

/* The file the program loads at run time. */
#define CAPICOM_LIBRARY_NAME "libcapicom.so"

/* Algorithm names and key lengths, numbered as the Windows component numbers them. */
#define CAPICOM_ENCRYPTION_ALGORITHM_DES 2
#define CAPICOM_ENCRYPTION_KEY_LENGTH_MAXIMUM 0

#define CAPICOM_OK 0
#define CAPICOM_E_ARGUMENT 1 /* a null pointer, or an algorithm not offered */
#define CAPICOM_E_NO_SECRET 2 /* no (or an empty) secret set */
#define CAPICOM_E_EMPTY 3 /* nothing to encrypt or decrypt */
#define CAPICOM_E_TEXT 4 /* text that is not valid UTF-8 / UTF-16 */
#define CAPICOM_E_BASE64 5 /* input that is not Base64 */
#define CAPICOM_E_MESSAGE 6 /* Base64 of something that is not such a message */
#define CAPICOM_E_DECRYPT 7 /* wrong secret or damaged ciphertext */
#define CAPICOM_E_CRYPTO 8 /* the cryptographic library failed */
#define CAPICOM_E_MEMORY 9

typedef struct capicom_ed capicom_ed;

/* A new object (DES, maximum key length, no secret), or NULL when out of memory. */
CAPICOM_API capicom_ed *capicom_ed_create(void);
CAPICOM_API void capicom_ed_destroy(capicom_ed *object);

/* Only CAPICOM_ENCRYPTION_ALGORITHM_DES is offered; for DES every key length
 * gives the same 64-bit key. */
CAPICOM_API int capicom_ed_set_algorithm(capicom_ed *object, int name, int key_length);

/* The password; a NUL-terminated UTF-8 text, not empty. */
CAPICOM_API int capicom_ed_set_secret(capicom_ed *object, const char *secret);

/* Encrypts length bytes of UTF-8 content (not empty) under a fresh random IV
 * and salt. On success *base64 is a NUL-terminated text framed in CR LF lines,
 * to be released with capicom_free. */
CAPICOM_API int capicom_ed_encrypt(capicom_ed *object, const char *content, size_t length,
                                   char **base64);

/* The same with a given IV (8 bytes) and salt, for reproducible messages. */
CAPICOM_API int capicom_ed_encrypt_with(capicom_ed *object, const char *content, size_t length,
                                        const unsigned char *iv, const unsigned char *salt,
                                        size_t salt_length, char **base64);

/* Decrypts a Base64 message; CR, LF, tabs and blanks anywhere in it are ignored.
 * On success *content holds *length bytes of UTF-8 and a terminating NUL, to
 * be released with capicom_free. */
CAPICOM_API int capicom_ed_decrypt(capicom_ed *object, const char *base64, size_t base64_length,
                                   char **content, size_t *length);

/* The description of the last failure of this object ("" when none). */
CAPICOM_API const char *capicom_ed_error(const capicom_ed *object);

CAPICOM_API void capicom_free(void *memory);

#ifdef __cplusplus
}
#endif

#endif /* KESTLIN_CAPICOM_H */
