// The address check: the rule on "@" counts every "@" of the text (an "@" is
// never part of a longer UTF-8 character, so no stray byte may hide one); with
// exactly one, an address passes only when it holds nothing but 0-9 A-Z a-z
// - . @ _, and a refusal always names one of the documented reasons.
#include "FuzzCheck.h"
#include "common/basCommon.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

bool Allowed(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-'
           || c == '.' || c == '@' || c == '_';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string address(reinterpret_cast<const char *>(data), size);
    std::string reason;
    const bool passed = kestlin::ChkMailAddress(address, reason);

    const auto atSigns = std::count(address.begin(), address.end(), '@');
    if (atSigns == 0) {
        FUZZ_CHECK(!passed && reason == "メールアドレス内に\"@\"がありません。");
    } else if (atSigns > 1) {
        FUZZ_CHECK(!passed && reason == "メールアドレス内に\"@\"が複数あります。");
    } else {
        FUZZ_CHECK(passed == std::all_of(address.begin(), address.end(), Allowed));
        FUZZ_CHECK(passed ? reason.empty()
                          : reason == "メールアドレスに全角は入力できません。"
                                || reason == "電子メールに使用できない文字が入力されています。");
    }
    return 0;
}
