#pragma once
// The mail as it goes over the wire: headers, a text part and base64
// attachments read from their files piece by piece while curl sends them, so
// that memory does not grow with the size of an attachment.
#include "arguments.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bsmtp {

// The Subject header's value: RFC 2047 "B" words of at most 75 characters
// (ISO-2022-JP, UTF-8 for characters that ISO-2022-JP cannot hold), one word
// a line, so that "Subject: " and the first word fit in 76 characters.
std::string EncodeSubject(const std::string &subject);

struct EncodedBody
{
    std::string charset; // "ISO-2022-JP" or "UTF-8"
    std::string encoding; // "7bit" or "base64"
    std::string text; // CR LF line ends
};
EncodedBody EncodeBody(const std::string &body);

// RFC 5322 date with the local offset, e.g. "Mon, 07 Dec 2026 18:08:13 +0900".
std::string FormatDate(std::time_t when);

std::string Base64(const std::string &bytes);

// The text cut into its characters; bytes that form no UTF-8 character
// become U+FFFD (see utf8::Next for how many each stands for).
std::vector<std::string> Characters(const std::string &text);

class MessageSource
{
public:
    MessageSource() = default;
    ~MessageSource();
    MessageSource(const MessageSource &) = delete;
    MessageSource &operator=(const MessageSource &) = delete;

    // Opens every attachment first: a file that cannot be read fails here,
    // before anything is sent.
    bool Prepare(const Sender &sender, const Recipients &recipients, const std::string &subject,
                 const std::string &body, const std::vector<Attachment> &attachments,
                 std::string &reason);

    // Up to size bytes of the message; 0 at its end; false when a file could
    // not be read (reason() tells).
    bool Read(char *buffer, size_t size, size_t &count);
    // The next stretch of the message as this object holds it, without a
    // copy (valid until the next call); empty at its end; false as for Read.
    bool Next(std::string_view &chunk);
    const std::string &reason() const { return reason_; }

    // Bytes that Read will give in all, from the attachments' sizes when
    // they were opened.
    int64_t Size() const { return size_; }

private:
    struct Segment
    {
        std::string text; // sent as it is
        std::FILE *file = nullptr; // or: this file in base64
        std::string path;
    };
    bool Refill();

    std::vector<Segment> segments_;
    size_t next_ = 0;
    std::string_view pending_; // into a segment's text or encoded_
    std::unique_ptr<char[]> raw_, encoded_;
    std::string reason_;
    int64_t size_ = 0;
};

// Length of the base64 lines (76 characters and CR LF) of a file of size bytes.
int64_t Base64LinesSize(int64_t size);

} // namespace bsmtp
