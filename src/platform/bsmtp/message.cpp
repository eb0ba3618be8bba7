#include "message.h"

#include "filename.h"

#include "common/utf8.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>

namespace bsmtp {

namespace {

const size_t kLineBytes = 57; // 76 base64 characters a line
const char kReplacement[] = "\xEF\xBF\xBD";

// glibc's strict ISO-2022-JP (ASCII, JIS X 0201 Roman, JIS X 0208): it
// refuses the vendor extensions (①, ㈱), JIS X 0212 (髙), U+FF5E and the
// half-width katakana, so that what is sent can be read everywhere.
bool ToIso2022Jp(const std::string &utf8, std::string &out)
{
    iconv_t cd = ::iconv_open("ISO-2022-JP", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.assign(utf8.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *to = out.data();
    size_t outLeft = out.size();
    bool ok = ::iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<size_t>(-1)
              // and back to ASCII at the end
              && ::iconv(cd, nullptr, nullptr, &to, &outLeft) != static_cast<size_t>(-1);
    ::iconv_close(cd);
    out.resize(ok ? out.size() - outLeft : 0);
    return ok;
}

std::string Word(const char *charset, const std::string &bytes)
{
    return std::string("=?") + charset + "?B?" + Base64(bytes) + "?=";
}

bool IsPlainAscii(const std::string &text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return text.find("=?") == std::string::npos && text.size() < 900;
}

std::string CrLf(const std::string &text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

bool LinesFit(const std::string &text, size_t limit)
{
    size_t start = 0;
    for (;;) {
        const size_t end = text.find("\r\n", start);
        if ((end == std::string::npos ? text.size() : end) - start > limit)
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 2;
    }
}

std::string Base64Lines(const std::string &bytes)
{
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += kLineBytes)
        out += Base64(bytes.substr(i, kLineBytes)) + "\r\n";
    return out;
}

std::string RandomHex(size_t bytes)
{
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(bytes)) != 1) {
        for (unsigned char &b : random)
            b = static_cast<unsigned char>(std::rand());
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : random) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

// "a@b, c@d", folded before an address that would pass 76 characters.
std::string AddressHeader(const char *name, const std::vector<std::string> &addresses)
{
    std::string header = std::string(name) + ": ";
    size_t lineLength = header.size();
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (i > 0) {
            if (lineLength + addresses[i].size() + 2 > 76) {
                header += ",\r\n ";
                lineLength = 1;
            } else {
                header += ", ";
                lineLength += 2;
            }
        }
        header += addresses[i];
        lineLength += addresses[i].size();
    }
    return header + "\r\n";
}

std::string DomainOf(const std::string &address)
{
    const size_t at = address.rfind('@');
    std::string domain = at == std::string::npos ? "" : address.substr(at + 1);
    for (char c : domain) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
            return "localhost";
    }
    return domain.empty() ? "localhost" : domain;
}

} // namespace

std::vector<std::string> Characters(const std::string &text)
{
    std::vector<std::string> characters;
    size_t i = 0;
    while (i < text.size()) {
        const kestlin::utf8::Character c = kestlin::utf8::Next(std::string_view(text).substr(i));
        characters.push_back(c.valid ? text.substr(i, c.length) : kReplacement);
        i += c.length;
    }
    return characters;
}

std::string Base64(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                       reinterpret_cast<const unsigned char *>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(length));
    return out;
}

int64_t Base64LinesSize(int64_t size)
{
    const int64_t line = static_cast<int64_t>(kLineBytes);
    const int64_t rest = size % line;
    return size / line * 78 + (rest ? (rest + 2) / 3 * 4 + 2 : 0);
}

std::string EncodeSubject(const std::string &subject)
{
    if (IsPlainAscii(subject))
        return subject;
    // Each word is cut so that it holds whole characters and, encoded,
    // stays within its line: 76 - "Subject: " for the first, 75 after.
    const std::vector<std::string> characters = Characters(subject);
    std::vector<std::string> words;
    size_t i = 0;
    while (i < characters.size()) {
        std::string jis;
        const bool inJis = ToIso2022Jp(characters[i], jis);
        const char *charset = inJis ? "ISO-2022-JP" : "UTF-8";
        const size_t limit = words.empty() ? 67 : 75;
        std::string text, bytes;
        while (i < characters.size()) {
            std::string candidate = text + characters[i];
            std::string candidateBytes;
            const bool fits = inJis ? ToIso2022Jp(candidate, candidateBytes)
                                    : !ToIso2022Jp(characters[i], candidateBytes);
            if (!fits)
                break;
            if (!inJis)
                candidateBytes = candidate;
            if (Word(charset, candidateBytes).size() > limit && !text.empty())
                break;
            text = std::move(candidate);
            bytes = std::move(candidateBytes);
            ++i;
        }
        words.push_back(Word(charset, bytes));
    }
    std::string value;
    for (const std::string &word : words)
        value += (value.empty() ? "" : "\r\n ") + word;
    return value;
}

EncodedBody EncodeBody(const std::string &body)
{
    const std::string text = CrLf(body);
    std::string jis;
    // A 7bit line may hold 998 characters.
    if (ToIso2022Jp(text, jis) && LinesFit(jis, 998))
        return { "ISO-2022-JP", "7bit", jis };
    std::string utf8;
    for (const std::string &character : Characters(text))
        utf8 += character;
    return { "UTF-8", "base64", Base64Lines(utf8) };
}

std::string FormatDate(std::time_t when)
{
    static const char *const days[] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };
    static const char *const months[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    std::tm local {};
    ::localtime_r(&when, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  days[local.tm_wday], local.tm_mday, months[local.tm_mon], local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

MessageSource::~MessageSource()
{
    for (Segment &segment : segments_) {
        if (segment.file)
            std::fclose(segment.file);
    }
}

bool MessageSource::Prepare(const Sender &sender, const Recipients &recipients,
                            const std::string &subject, const std::string &body,
                            const std::vector<Attachment> &attachments, std::string &reason)
{
    const std::string boundary = "----=_Kestlin_" + RandomHex(12);
    const std::time_t now = std::time(nullptr);
    std::tm utc {};
    ::gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &utc);

    std::string head = "From: " + sender.address + "\r\n";
    if (!recipients.to.empty())
        head += AddressHeader("To", recipients.to);
    if (!recipients.cc.empty())
        head += AddressHeader("Cc", recipients.cc);
    head += "Subject: " + EncodeSubject(subject) + "\r\n";
    head += "Date: " + FormatDate(now) + "\r\n";
    head += "Message-ID: <" + std::string(stamp) + "." + RandomHex(8) + "@"
            + DomainOf(sender.address) + ">\r\n";
    head += "MIME-Version: 1.0\r\n";
    // Folded: on one line with the boundary it would pass 78 characters.
    head += "Content-Type: multipart/mixed;\r\n boundary=\"" + boundary + "\"\r\n\r\n";
    head += "This is a multi-part message in MIME format.\r\n";

    const EncodedBody text = EncodeBody(body);
    head += "--" + boundary + "\r\n";
    head += "Content-Type: text/plain; charset=" + text.charset + "\r\n";
    head += "Content-Transfer-Encoding: " + text.encoding + "\r\n\r\n";
    head += text.text;
    segments_.push_back({ head, nullptr, {} });

    for (const Attachment &attachment : attachments) {
        std::FILE *file = std::fopen(attachment.path.c_str(), "rb");
        if (!file) {
            reason = "添付ファイルを開けません: " + attachment.path + " (" + std::strerror(errno)
                     + ")";
            return false;
        }
        // The line end before a boundary belongs to the boundary, not to the
        // part: each part keeps every line end of its own.
        std::string part = "\r\n--" + boundary + "\r\n";
        part += ContentTypeHeader(attachment.type, attachment.name);
        part += "Content-Transfer-Encoding: base64\r\n";
        part += ContentDispositionHeader(attachment.name) + "\r\n";
        struct stat status
        {
        };
        if (::fstat(::fileno(file), &status) == 0)
            size_ += Base64LinesSize(status.st_size);
        segments_.push_back({ part, nullptr, {} });
        segments_.push_back({ {}, file, attachment.path });
    }
    segments_.push_back({ "\r\n--" + boundary + "--\r\n", nullptr, {} });
    for (const Segment &segment : segments_)
        size_ += static_cast<int64_t>(segment.text.size());
    return true;
}

namespace {

// Base64 lines of 76 characters, each ended by CR LF, straight into out:
// two characters a table look-up, the line ends written in the same pass.
size_t EncodeLines(const unsigned char *in, size_t size, char *out)
{
    static const auto pairs = [] {
        static const char alphabet[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::array<char[2], 4096> table {};
        for (size_t i = 0; i < table.size(); ++i) {
            table[i][0] = alphabet[i >> 6];
            table[i][1] = alphabet[i & 63];
        }
        return table;
    }();
    char *const start = out;
    while (size >= kLineBytes) {
        for (const unsigned char *end = in + kLineBytes; in < end; in += 3) {
            const unsigned group = unsigned(in[0]) << 16 | unsigned(in[1]) << 8 | in[2];
            std::memcpy(out, pairs[group >> 12], 2);
            std::memcpy(out + 2, pairs[group & 0xFFF], 2);
            out += 4;
        }
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
        size -= kLineBytes;
    }
    if (size > 0) {
        out += EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out), in, static_cast<int>(size));
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
    }
    return static_cast<size_t>(out - start);
}

} // namespace

bool MessageSource::Refill()
{
    pending_ = {};
    // Large blocks of whole base64 lines: few reads, few sends.
    const size_t block = kLineBytes * 8192;
    while (pending_.empty() && next_ < segments_.size()) {
        Segment &segment = segments_[next_];
        if (!segment.file) {
            pending_ = segment.text;
            ++next_;
            continue;
        }
        if (!raw_) {
            raw_ = std::make_unique<char[]>(block);
            encoded_ = std::make_unique<char[]>(block / kLineBytes * 78);
        }
        const size_t count = std::fread(raw_.get(), 1, block, segment.file);
        if (std::ferror(segment.file)) {
            reason_
                = "添付ファイルを読めません: " + segment.path + " (" + std::strerror(errno) + ")";
            return false;
        }
        if (count == 0) {
            std::fclose(segment.file);
            segment.file = nullptr;
            ++next_;
            continue;
        }
        pending_ = std::string_view(encoded_.get(),
                                    EncodeLines(reinterpret_cast<const unsigned char *>(raw_.get()),
                                                count, encoded_.get()));
    }
    return true;
}

bool MessageSource::Next(std::string_view &chunk)
{
    if (pending_.empty() && !Refill())
        return false;
    chunk = pending_;
    pending_ = {};
    return true;
}

bool MessageSource::Read(char *buffer, size_t size, size_t &count)
{
    count = 0;
    while (count < size) {
        if (pending_.empty()) {
            if (!Refill())
                return false;
            if (pending_.empty())
                break;
        }
        const size_t take = std::min(size - count, pending_.size());
        std::memcpy(buffer + count, pending_.data(), take);
        pending_.remove_prefix(take);
        count += take;
    }
    return true;
}

} // namespace bsmtp
