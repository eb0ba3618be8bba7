/* The encrypted-data object of libcapicom.so; the message layout is in capicom.h. */
#include "capicom.h"

#include <openssl/asn1t.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <errno.h>
#include <iconv.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MESSAGE_OID "1.3.6.1.4.1.311.88.3"
#define CONTENT_OID "1.3.6.1.4.1.311.88.3.1"
#define VERSION_WRITTEN 0x00020001
#define VERSION_OLDER 0x00020000
#define ALGORITHM_DES 0x6601
#define DES_KEY_BITS 64
#define DES_BLOCK 8
#define DES_KEY 8
#define SALT_LENGTH 16
#define LINE_LENGTH 64
/* Passwords are short; the cap keeps every length inside OpenSSL's int. */
#define MAX_TEXT (16u * 1024u * 1024u)

typedef struct
{
    ASN1_INTEGER *version;
    ASN1_INTEGER *algorithm;
    ASN1_INTEGER *key_bits;
    ASN1_OCTET_STRING *iv;
    ASN1_OCTET_STRING *salt;
    ASN1_OCTET_STRING *ciphertext;
} CAPICOM_PARAMS;

typedef struct
{
    ASN1_OBJECT *type;
    CAPICOM_PARAMS *params;
} CAPICOM_CONTENT;

typedef struct
{
    ASN1_OBJECT *type;
    CAPICOM_CONTENT *content;
} CAPICOM_MESSAGE;

ASN1_SEQUENCE(CAPICOM_PARAMS) = {
    ASN1_SIMPLE(CAPICOM_PARAMS, version, ASN1_INTEGER),
    ASN1_SIMPLE(CAPICOM_PARAMS, algorithm, ASN1_INTEGER),
    ASN1_SIMPLE(CAPICOM_PARAMS, key_bits, ASN1_INTEGER),
    ASN1_SIMPLE(CAPICOM_PARAMS, iv, ASN1_OCTET_STRING),
    ASN1_SIMPLE(CAPICOM_PARAMS, salt, ASN1_OCTET_STRING),
    ASN1_SIMPLE(CAPICOM_PARAMS, ciphertext, ASN1_OCTET_STRING),
} static_ASN1_SEQUENCE_END(CAPICOM_PARAMS)

ASN1_SEQUENCE(CAPICOM_CONTENT) = {
    ASN1_SIMPLE(CAPICOM_CONTENT, type, ASN1_OBJECT),
    ASN1_EXP(CAPICOM_CONTENT, params, CAPICOM_PARAMS, 0),
} static_ASN1_SEQUENCE_END(CAPICOM_CONTENT)

ASN1_SEQUENCE(CAPICOM_MESSAGE) = {
    ASN1_SIMPLE(CAPICOM_MESSAGE, type, ASN1_OBJECT),
    ASN1_EXP(CAPICOM_MESSAGE, content, CAPICOM_CONTENT, 0),
} static_ASN1_SEQUENCE_END(CAPICOM_MESSAGE)

struct capicom_ed
{
    unsigned char *secret; /* UTF-16LE */
    size_t secret_length;
    char error[512];
};

/* A library context of our own, so that the host program's OpenSSL setup
 * (configuration, providers) neither affects us nor is affected by us. */
typedef struct
{
    OSSL_LIB_CTX *lib;
    OSSL_PROVIDER *provider;
    EVP_MD *sha1;
    EVP_CIPHER *des;
} crypto;

static const char TEXT_MEMORY[] = "メモリーが足りません。";
static const char TEXT_BAD_MESSAGE[] = "暗号化テキストの形式が正しくありません。";

static int fail(capicom_ed *object, int code, const char *text)
{
    snprintf(object->error, sizeof object->error, "%s", text);
    if (code == CAPICOM_E_CRYPTO) {
        char detail[256];
        ERR_error_string_n(ERR_peek_last_error(), detail, sizeof detail);
        size_t used = strlen(object->error);
        snprintf(object->error + used, sizeof object->error - used, " (%s)", detail);
    }
    /* Leave nothing of ours in the caller's thread error queue. */
    ERR_clear_error();
    return code;
}

static int fail_message(capicom_ed *object, const char *why)
{
    snprintf(object->error, sizeof object->error, "%s(%s)", TEXT_BAD_MESSAGE, why);
    ERR_clear_error();
    return CAPICOM_E_MESSAGE;
}

static void crypto_close(crypto *c)
{
    EVP_CIPHER_free(c->des);
    EVP_MD_free(c->sha1);
    OSSL_PROVIDER_unload(c->provider);
    OSSL_LIB_CTX_free(c->lib);
    memset(c, 0, sizeof *c);
}

/* Single DES is 3DES-EDE with the key repeated three times, which the default
 * provider offers; plain DES would need the legacy provider. */
static int crypto_open(capicom_ed *object, crypto *c)
{
    memset(c, 0, sizeof *c);
    c->lib = OSSL_LIB_CTX_new();
    if (c->lib)
        c->provider = OSSL_PROVIDER_load(c->lib, "default");
    if (c->provider) {
        c->sha1 = EVP_MD_fetch(c->lib, "SHA1", NULL);
        c->des = EVP_CIPHER_fetch(c->lib, "DES-EDE3-CBC", NULL);
    }
    if (c->sha1 && c->des)
        return CAPICOM_OK;
    fail(object, CAPICOM_E_CRYPTO, "暗号ライブラリ OpenSSL の SHA-1 または DES を使えません。");
    crypto_close(c);
    return CAPICOM_E_CRYPTO;
}

/* Converts between UTF-8 and UTF-16LE; fails on any invalid or incomplete sequence. */
static int convert(capicom_ed *object, const char *to, const char *from, const char *in,
                   size_t length, char **out, size_t *out_length)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1)
        return fail(object, CAPICOM_E_TEXT, "文字コードを変換できません。");
    /* Either direction needs at most two output bytes per input byte. */
    size_t capacity = length * 2 + 4;
    char *buffer = malloc(capacity + 1);
    if (!buffer) {
        iconv_close(cd);
        return fail(object, CAPICOM_E_MEMORY, TEXT_MEMORY);
    }
    char *src = (char *)in;
    char *dst = buffer;
    size_t src_left = length;
    size_t dst_left = capacity;
    size_t result = iconv(cd, &src, &src_left, &dst, &dst_left);
    if (result != (size_t)-1)
        result = iconv(cd, NULL, NULL, &dst, &dst_left);
    iconv_close(cd);
    if (result == (size_t)-1 || src_left != 0) {
        free(buffer);
        return fail(object, CAPICOM_E_TEXT, "テキストの文字コードが正しくありません。");
    }
    *out_length = capacity - dst_left;
    buffer[*out_length] = '\0';
    *out = buffer;
    return CAPICOM_OK;
}

static int derive_key(capicom_ed *object, crypto *c, const unsigned char *salt, size_t salt_length,
                      unsigned char key[3 * DES_KEY])
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    int ok = md && EVP_DigestInit_ex2(md, c->sha1, NULL)
             && EVP_DigestUpdate(md, object->secret, object->secret_length)
             && EVP_DigestUpdate(md, salt, salt_length)
             && EVP_DigestFinal_ex(md, digest, &digest_length) && digest_length >= DES_KEY;
    EVP_MD_CTX_free(md);
    if (!ok)
        return fail(object, CAPICOM_E_CRYPTO, "鍵を作れません。");
    for (int i = 0; i < 3; i++)
        memcpy(key + i * DES_KEY, digest, DES_KEY);
    OPENSSL_cleanse(digest, sizeof digest);
    return CAPICOM_OK;
}

/* DES-CBC with PKCS#5 padding; a bad padding on decryption means a wrong
 * secret or a damaged message. */
static int run_cipher(capicom_ed *object, crypto *c, int encrypt, const unsigned char *key,
                      const unsigned char *iv, const unsigned char *in, size_t length,
                      unsigned char **out, size_t *out_length)
{
    unsigned char *buffer = malloc(length + DES_BLOCK);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (!buffer || !ctx) {
        free(buffer);
        EVP_CIPHER_CTX_free(ctx);
        return fail(object, CAPICOM_E_MEMORY, TEXT_MEMORY);
    }
    int part = 0;
    int last = 0;
    int ok = EVP_CipherInit_ex2(ctx, c->des, key, iv, encrypt, NULL)
             && EVP_CipherUpdate(ctx, buffer, &part, in, (int)length);
    if (!ok) {
        EVP_CIPHER_CTX_free(ctx);
        free(buffer);
        return fail(object, CAPICOM_E_CRYPTO, "DES を実行できません。");
    }
    ok = EVP_CipherFinal_ex(ctx, buffer + part, &last);
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) {
        free(buffer);
        return fail(object, encrypt ? CAPICOM_E_CRYPTO : CAPICOM_E_DECRYPT,
                    encrypt ? "DES を実行できません。"
                            : "暗号化テキストを復号できません。パスワードが違うか、"
                              "データが壊れています。");
    }
    *out = buffer;
    *out_length = (size_t)part + (size_t)last;
    return CAPICOM_OK;
}

static int set_integer(ASN1_INTEGER *target, int64_t value)
{
    return ASN1_INTEGER_set_int64(target, value);
}

static int set_object(ASN1_OBJECT **target, const char *oid)
{
    ASN1_OBJECT *object = OBJ_txt2obj(oid, 1);
    if (!object)
        return 0;
    ASN1_OBJECT_free(*target);
    *target = object;
    return 1;
}

static int encode_message(capicom_ed *object, const unsigned char *iv, const unsigned char *salt,
                          size_t salt_length, const unsigned char *ciphertext, size_t length,
                          unsigned char **der, size_t *der_length)
{
    const ASN1_ITEM *item = ASN1_ITEM_rptr(CAPICOM_MESSAGE);
    CAPICOM_MESSAGE *message = (CAPICOM_MESSAGE *)ASN1_item_new(item);
    int ok = message != NULL;
    if (ok) {
        CAPICOM_PARAMS *p = message->content->params;
        ok = set_object(&message->type, MESSAGE_OID)
             && set_object(&message->content->type, CONTENT_OID)
             && set_integer(p->version, VERSION_WRITTEN) && set_integer(p->algorithm, ALGORITHM_DES)
             && set_integer(p->key_bits, DES_KEY_BITS)
             && ASN1_OCTET_STRING_set(p->iv, iv, DES_BLOCK)
             && ASN1_OCTET_STRING_set(p->salt, salt, (int)salt_length)
             && ASN1_OCTET_STRING_set(p->ciphertext, ciphertext, (int)length);
    }
    unsigned char *buffer = NULL;
    int written = ok ? ASN1_item_i2d((ASN1_VALUE *)message, &buffer, item) : -1;
    ASN1_item_free((ASN1_VALUE *)message, item);
    if (written <= 0)
        return fail(object, CAPICOM_E_CRYPTO, "暗号化テキストを組み立てられません。");
    *der = buffer;
    *der_length = (size_t)written;
    return CAPICOM_OK;
}

/* Base64 in lines of 64 characters, every line ended by CR LF (OpenSSL's own
 * line breaking writes LF only). */
static int to_base64(capicom_ed *object, const unsigned char *der, size_t length, char **out)
{
    size_t encoded_length = 4 * ((length + 2) / 3);
    size_t lines = (encoded_length + LINE_LENGTH - 1) / LINE_LENGTH;
    unsigned char *encoded = malloc(encoded_length + 1);
    char *framed = malloc(encoded_length + 2 * lines + 1);
    if (!encoded || !framed) {
        free(encoded);
        free(framed);
        return fail(object, CAPICOM_E_MEMORY, TEXT_MEMORY);
    }
    EVP_EncodeBlock(encoded, der, (int)length);
    char *dst = framed;
    for (size_t at = 0; at < encoded_length; at += LINE_LENGTH) {
        size_t n = encoded_length - at < LINE_LENGTH ? encoded_length - at : LINE_LENGTH;
        memcpy(dst, encoded + at, n);
        dst += n;
        *dst++ = '\r';
        *dst++ = '\n';
    }
    *dst = '\0';
    free(encoded);
    *out = framed;
    return CAPICOM_OK;
}

static int is_base64_char(char ch)
{
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9')
           || ch == '+' || ch == '/';
}

static int is_blank(char ch)
{
    return ch == '\r' || ch == '\n' || ch == ' ' || ch == '\t';
}

/* Strict Base64: whole quanta, the alphabet only, "=" only as final padding. */
static int well_formed_base64(const char *text, size_t length, size_t *padding)
{
    if (length == 0 || length % 4 != 0)
        return 0;
    *padding = text[length - 1] == '=' ? (text[length - 2] == '=' ? 2 : 1) : 0;
    for (size_t i = 0; i < length - *padding; i++) {
        if (!is_base64_char(text[i]))
            return 0;
    }
    return 1;
}

static int from_base64(capicom_ed *object, const char *text, size_t length, unsigned char **out,
                       size_t *out_length)
{
    char *compact = malloc(length + 1);
    unsigned char *decoded = malloc(length / 4 * 3 + 1);
    if (!compact || !decoded) {
        free(compact);
        free(decoded);
        return fail(object, CAPICOM_E_MEMORY, TEXT_MEMORY);
    }
    size_t n = 0;
    for (size_t i = 0; i < length; i++) {
        if (!is_blank(text[i]))
            compact[n++] = text[i];
    }
    size_t padding = 0;
    int code = CAPICOM_OK;
    if (n == 0)
        code = fail(object, CAPICOM_E_EMPTY, "復号するテキストが空です。");
    else if (!well_formed_base64(compact, n, &padding))
        code = fail(object, CAPICOM_E_BASE64, "暗号化テキストが Base64 の形式ではありません。");
    else if (EVP_DecodeBlock(decoded, (const unsigned char *)compact, (int)n) < 0)
        code = fail(object, CAPICOM_E_BASE64, "暗号化テキストが Base64 の形式ではありません。");
    free(compact);
    if (code != CAPICOM_OK) {
        free(decoded);
        return code;
    }
    *out = decoded;
    *out_length = n / 4 * 3 - padding;
    return CAPICOM_OK;
}

static int has_oid(const ASN1_OBJECT *object, const char *oid)
{
    ASN1_OBJECT *expected = OBJ_txt2obj(oid, 1);
    int same = expected && OBJ_cmp(object, expected) == 0;
    ASN1_OBJECT_free(expected);
    return same;
}

static int has_value(const ASN1_INTEGER *integer, int64_t a, int64_t b)
{
    int64_t value = 0;
    return ASN1_INTEGER_get_int64(&value, integer) && (value == a || value == b);
}

/* Every field the decryption relies on is checked here, so that what follows
 * never works on a length or an algorithm it does not expect. */
static int check_message(capicom_ed *object, const CAPICOM_MESSAGE *message)
{
    const CAPICOM_PARAMS *p = message->content->params;
    if (!has_oid(message->type, MESSAGE_OID) || !has_oid(message->content->type, CONTENT_OID))
        return fail_message(object, "識別子が違います");
    if (!has_value(p->version, VERSION_WRITTEN, VERSION_OLDER))
        return fail_message(object, "版が違います");
    if (!has_value(p->algorithm, ALGORITHM_DES, ALGORITHM_DES))
        return fail_message(object, "DES ではありません");
    if (!has_value(p->key_bits, DES_KEY_BITS, DES_KEY_BITS))
        return fail_message(object, "鍵の長さが違います");
    if (ASN1_STRING_length(p->iv) != DES_BLOCK)
        return fail_message(object, "IV の長さが違います");
    int length = ASN1_STRING_length(p->ciphertext);
    if (length <= 0 || length % DES_BLOCK != 0)
        return fail_message(object, "暗号文の長さがブロックの倍数ではありません");
    return CAPICOM_OK;
}

static int parse_message(capicom_ed *object, const unsigned char *der, size_t length,
                         CAPICOM_MESSAGE **message)
{
    const unsigned char *p = der;
    const ASN1_ITEM *item = ASN1_ITEM_rptr(CAPICOM_MESSAGE);
    CAPICOM_MESSAGE *parsed = (CAPICOM_MESSAGE *)ASN1_item_d2i(NULL, &p, (long)length, item);
    if (!parsed)
        return fail_message(object, "構造が違います");
    int code = p == der + length ? check_message(object, parsed)
                                 : fail_message(object, "後ろに余分なデータがあります");
    if (code != CAPICOM_OK) {
        ASN1_item_free((ASN1_VALUE *)parsed, item);
        return code;
    }
    *message = parsed;
    return CAPICOM_OK;
}

static int ready(capicom_ed *object, size_t length)
{
    if (!object->secret)
        return fail(object, CAPICOM_E_NO_SECRET, "パスワードが設定されていません。");
    if (length > MAX_TEXT)
        return fail(object, CAPICOM_E_ARGUMENT, "テキストが長すぎます。");
    return CAPICOM_OK;
}

capicom_ed *capicom_ed_create(void)
{
    return calloc(1, sizeof(capicom_ed));
}

void capicom_ed_destroy(capicom_ed *object)
{
    if (!object)
        return;
    if (object->secret)
        OPENSSL_cleanse(object->secret, object->secret_length);
    free(object->secret);
    free(object);
}

int capicom_ed_set_algorithm(capicom_ed *object, int name, int key_length)
{
    (void)key_length;
    if (!object)
        return CAPICOM_E_ARGUMENT;
    if (name != CAPICOM_ENCRYPTION_ALGORITHM_DES)
        return fail(object, CAPICOM_E_ARGUMENT, "この暗号化アルゴリズムには対応していません。");
    return CAPICOM_OK;
}

int capicom_ed_set_secret(capicom_ed *object, const char *secret)
{
    if (!object || !secret)
        return object ? fail(object, CAPICOM_E_ARGUMENT, "パスワードがありません。")
                      : CAPICOM_E_ARGUMENT;
    if (!*secret)
        return fail(object, CAPICOM_E_NO_SECRET, "パスワードが空です。");
    size_t length = strlen(secret);
    if (length > MAX_TEXT)
        return fail(object, CAPICOM_E_ARGUMENT, "パスワードが長すぎます。");
    char *converted = NULL;
    size_t converted_length = 0;
    int code = convert(object, "UTF-16LE", "UTF-8", secret, length, &converted, &converted_length);
    if (code != CAPICOM_OK)
        return code;
    if (object->secret)
        OPENSSL_cleanse(object->secret, object->secret_length);
    free(object->secret);
    object->secret = (unsigned char *)converted;
    object->secret_length = converted_length;
    return CAPICOM_OK;
}

/* iv and salt are drawn from the random generator when iv is NULL. */
static int encrypt_content(capicom_ed *object, const char *content, size_t length,
                           const unsigned char *iv, const unsigned char *salt, size_t salt_length,
                           char **base64)
{
    unsigned char fresh_iv[DES_BLOCK];
    unsigned char fresh_salt[SALT_LENGTH];
    char *plain = NULL;
    size_t plain_length = 0;
    unsigned char *cipher = NULL;
    size_t cipher_length = 0;
    unsigned char key[3 * DES_KEY];
    crypto c;
    int code = crypto_open(object, &c);
    if (code != CAPICOM_OK)
        return code;
    if (!iv) {
        if (RAND_bytes_ex(c.lib, fresh_iv, sizeof fresh_iv, 0) != 1
            || RAND_bytes_ex(c.lib, fresh_salt, sizeof fresh_salt, 0) != 1)
            code = fail(object, CAPICOM_E_CRYPTO, "乱数を作れません。");
        iv = fresh_iv;
        salt = fresh_salt;
        salt_length = sizeof fresh_salt;
    }
    if (code == CAPICOM_OK)
        code = convert(object, "UTF-16LE", "UTF-8", content, length, &plain, &plain_length);
    if (code == CAPICOM_OK)
        code = derive_key(object, &c, salt, salt_length, key);
    if (code == CAPICOM_OK)
        code = run_cipher(object, &c, 1, key, iv, (unsigned char *)plain, plain_length, &cipher,
                          &cipher_length);
    crypto_close(&c);
    OPENSSL_cleanse(key, sizeof key);
    if (plain)
        OPENSSL_cleanse(plain, plain_length);
    free(plain);
    unsigned char *der = NULL;
    size_t der_length = 0;
    if (code == CAPICOM_OK)
        code = encode_message(object, iv, salt, salt_length, cipher, cipher_length, &der,
                              &der_length);
    if (code == CAPICOM_OK)
        code = to_base64(object, der, der_length, base64);
    free(cipher);
    OPENSSL_free(der);
    return code;
}

static int check_content(capicom_ed *object, const char *content, size_t length, char **base64)
{
    if (!content || !base64)
        return fail(object, CAPICOM_E_ARGUMENT, "引数が正しくありません。");
    if (length == 0)
        return fail(object, CAPICOM_E_EMPTY, "暗号化するテキストが空です。");
    return ready(object, length);
}

int capicom_ed_encrypt_with(capicom_ed *object, const char *content, size_t length,
                            const unsigned char *iv, const unsigned char *salt, size_t salt_length,
                            char **base64)
{
    if (!object)
        return CAPICOM_E_ARGUMENT;
    int code = check_content(object, content, length, base64);
    if (code != CAPICOM_OK)
        return code;
    if (!iv || (!salt && salt_length) || salt_length > MAX_TEXT)
        return fail(object, CAPICOM_E_ARGUMENT, "引数が正しくありません。");
    return encrypt_content(object, content, length, iv, salt, salt_length, base64);
}

int capicom_ed_encrypt(capicom_ed *object, const char *content, size_t length, char **base64)
{
    if (!object)
        return CAPICOM_E_ARGUMENT;
    int code = check_content(object, content, length, base64);
    if (code != CAPICOM_OK)
        return code;
    return encrypt_content(object, content, length, NULL, NULL, 0, base64);
}

static int decrypt_message(capicom_ed *object, const CAPICOM_MESSAGE *message, char **content,
                           size_t *length)
{
    const CAPICOM_PARAMS *p = message->content->params;
    unsigned char key[3 * DES_KEY];
    unsigned char *plain = NULL;
    size_t plain_length = 0;
    crypto c;
    int code = crypto_open(object, &c);
    if (code != CAPICOM_OK)
        return code;
    code = derive_key(object, &c, ASN1_STRING_get0_data(p->salt),
                      (size_t)ASN1_STRING_length(p->salt), key);
    if (code == CAPICOM_OK)
        code = run_cipher(object, &c, 0, key, ASN1_STRING_get0_data(p->iv),
                          ASN1_STRING_get0_data(p->ciphertext),
                          (size_t)ASN1_STRING_length(p->ciphertext), &plain, &plain_length);
    crypto_close(&c);
    OPENSSL_cleanse(key, sizeof key);
    /* A wrong secret sometimes leaves a padding that looks right; the text
     * inside must still be whole UTF-16 for the result to count. */
    if (code == CAPICOM_OK && (plain_length == 0 || plain_length % 2 != 0))
        code = fail(object, CAPICOM_E_DECRYPT,
                    "暗号化テキストを復号できません。パスワードが違うか、データが壊れています。");
    if (code == CAPICOM_OK) {
        code = convert(object, "UTF-8", "UTF-16LE", (const char *)plain, plain_length, content,
                       length);
        if (code != CAPICOM_OK)
            code = fail(object, CAPICOM_E_DECRYPT,
                        "暗号化テキストを復号できません。パスワードが違うか、"
                        "データが壊れています。");
    }
    if (plain)
        OPENSSL_cleanse(plain, plain_length);
    free(plain);
    return code;
}

int capicom_ed_decrypt(capicom_ed *object, const char *base64, size_t base64_length, char **content,
                       size_t *length)
{
    if (!object)
        return CAPICOM_E_ARGUMENT;
    if (!base64 || !content || !length)
        return fail(object, CAPICOM_E_ARGUMENT, "引数が正しくありません。");
    int code = ready(object, base64_length);
    if (code != CAPICOM_OK)
        return code;
    unsigned char *der = NULL;
    size_t der_length = 0;
    code = from_base64(object, base64, base64_length, &der, &der_length);
    if (code != CAPICOM_OK)
        return code;
    CAPICOM_MESSAGE *message = NULL;
    code = parse_message(object, der, der_length, &message);
    free(der);
    if (code != CAPICOM_OK)
        return code;
    code = decrypt_message(object, message, content, length);
    ASN1_item_free((ASN1_VALUE *)message, ASN1_ITEM_rptr(CAPICOM_MESSAGE));
    return code;
}

const char *capicom_ed_error(const capicom_ed *object)
{
    return object ? object->error : "";
}

void capicom_free(void *memory)
{
    free(memory);
}
