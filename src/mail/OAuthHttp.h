#pragma once
// Form posts to an identity provider's endpoints through libcurl. Only https
// with the system's certificate store and full verification, or plain http to
// a provider on this machine (127.0.0.1 or ::1); no redirects, so that an
// answer can never lead the request somewhere else.
#include <string>
#include <utility>
#include <vector>

namespace kestlin {

using FormFields = std::vector<std::pair<std::string, std::string>>;

struct HttpReply
{
    long status = 0; // HTTP status; 0 when no answer came
    std::string body;
};

// Why url may not carry a token request; empty when it may.
std::string OAuthUrlRefusal(const std::string &url);

// Posts fields as application/x-www-form-urlencoded. False with a Japanese
// reason when the request could not be made or no answer came; an answer of
// any status is true. The reason names the host, never a field's value.
bool PostForm(const std::string &url, const FormFields &fields, HttpReply &reply,
              std::string &reason);

// The value encoded for a URL query or a form.
std::string UrlEncoded(const std::string &value);

} // namespace kestlin
