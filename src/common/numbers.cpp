#include "common/numbers.h"

namespace kestlin {

namespace {
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

bool ToInteger(const std::string &text, int64_t min, int64_t max, int64_t &value,
               std::string &errText)
{
    size_t i = 0, end = text.size();
    while (i < end && IsBlank(text[i]))
        ++i;
    while (end > i && IsBlank(text[end - 1]))
        --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Far beyond the 16- and 32-bit ranges asked for: counting stops there.
    constexpr uint64_t kCap = uint64_t(1) << 59;
    uint64_t whole = 0;
    bool digits = false, tooBig = false;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        if (whole < kCap)
            whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
        tooBig = tooBig || whole >= kCap;
    }
    // Rounding half to even, as the run time's conversion does.
    bool roundUp = false;
    if (i < end && text[i] == '.') {
        ++i;
        const size_t first = i;
        bool restNonZero = false;
        for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
            digits = true;
            restNonZero = restNonZero || (i > first && text[i] != '0');
        }
        if (i > first) {
            const char d = text[first];
            roundUp = d > '5' || (d == '5' && (restNonZero || whole % 2 == 1));
        }
    }
    if (!digits || i != end) {
        if (errText.empty())
            errText = "型が一致しません。";
        return false;
    }
    whole += roundUp ? 1 : 0;
    const int64_t signedValue
        = negative ? -static_cast<int64_t>(whole) : static_cast<int64_t>(whole);
    if (tooBig || signedValue < min || signedValue > max) {
        if (errText.empty())
            errText = "オーバーフローしました。";
        return false;
    }
    value = signedValue;
    return true;
}

} // namespace kestlin
