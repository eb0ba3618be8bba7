#include "filename.h"

#include "message.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace bsmtp {

namespace {

const size_t kLine = 76;

// A name that any reader takes as it stands inside quotes.
bool IsPlain(const std::string &name)
{
    for (unsigned char c : name) {
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\')
            return false;
    }
    return name.find("=?") == std::string::npos;
}

// name="value" on the header's own line when it fits there, else on a line
// of its own; empty when a plain name cannot be written within a line.
std::string PlainParameter(const std::string &head, const char *parameter, const std::string &name)
{
    if (!IsPlain(name))
        return {};
    const std::string value = std::string(parameter) + "=\"" + name + "\"";
    if (head.size() + 2 + value.size() <= kLine)
        return head + "; " + value + "\r\n";
    if (1 + value.size() <= kLine)
        return head + ";\r\n " + value + "\r\n";
    return {};
}

// The name cut into pieces of whole characters, each as long as fits what
// encode makes of it within limit(piece number).
template<typename Encode, typename Limit>
std::vector<std::string> Pieces(const std::string &name, Encode encode, Limit limit)
{
    std::vector<std::string> pieces;
    std::string piece, encoded;
    for (const std::string &character : Characters(name)) {
        std::string longer = encode(piece + character, pieces.size());
        if (!piece.empty() && longer.size() > limit(pieces.size())) {
            pieces.push_back(encoded);
            piece.clear();
            longer = encode(character, pieces.size());
        }
        piece += character;
        encoded = std::move(longer);
    }
    if (!piece.empty())
        pieces.push_back(encoded);
    return pieces;
}

std::string PercentEncoded(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : bytes) {
        if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += digits[c >> 4];
            encoded += digits[c & 15];
        }
    }
    return encoded;
}

} // namespace

std::string ContentTypeHeader(const std::string &type, const std::string &name)
{
    const std::string head = "Content-Type: " + type;
    std::string header = PlainParameter(head, "name", name);
    if (!header.empty())
        return header;
    // ' name="' before the first word, '"' after the last one.
    const auto word
        = [](const std::string &piece, size_t) { return "=?UTF-8?B?" + Base64(piece) + "?="; };
    const auto limit = [](size_t n) { return n == 0 ? kLine - 8 : kLine - 2; };
    header = head + ";\r\n name=\"";
    const std::vector<std::string> words = Pieces(name, word, limit);
    for (size_t i = 0; i < words.size(); ++i)
        header += (i ? "\r\n " : "") + words[i];
    return header + "\"\r\n";
}

std::string ContentDispositionHeader(const std::string &name)
{
    const std::string head = "Content-Disposition: attachment";
    std::string header = PlainParameter(head, "filename", name);
    if (!header.empty())
        return header;
    const std::string whole = "filename*=UTF-8''" + PercentEncoded(name);
    if (head.size() + 2 + whole.size() <= kLine)
        return head + "; " + whole + "\r\n";
    // ' filename*N*=' before each piece and ';' after all but the last.
    const auto segment = [](const std::string &piece, size_t n) {
        return "filename*" + std::to_string(n) + "*=" + (n == 0 ? "UTF-8''" : "")
               + PercentEncoded(piece);
    };
    const auto limit = [](size_t) { return kLine - 2; };
    header = head;
    for (const std::string &line : Pieces(name, segment, limit))
        header += ";\r\n " + line;
    return header + "\r\n";
}

} // namespace bsmtp
