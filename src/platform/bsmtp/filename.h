#pragma once
// How an attachment's name is written in the headers of its part. Mail
// programs that read RFC 2231 take the name from Content-Disposition
// (filename*0*=UTF-8''..., continued over as many lines as it needs); older
// ones take it from Content-Type's name, written as RFC 2047 encoded words.
// Every line stays within 76 characters, so that no server on the way folds
// the name for us.
#include <string>

namespace bsmtp {

// "Content-Type: <type>; name=..." with its line end.
std::string ContentTypeHeader(const std::string &type, const std::string &name);
// "Content-Disposition: attachment; filename..." with its line end.
std::string ContentDispositionHeader(const std::string &name);

} // namespace bsmtp
