#pragma once
// Whole numbers from settings texts, converted as the original run time did:
// blanks around, a sign and a decimal fraction (rounded half to even) are
// accepted; false with the run time's description ("型が一致しません。" when the
// text is not a number, "オーバーフローしました。" when the result lies outside
// min..max) otherwise. The description goes into errText only when it is empty.
#include <cstdint>
#include <string>

namespace kestlin {

bool ToInteger(const std::string &text, int64_t min, int64_t max, int64_t &value,
               std::string &errText);

} // namespace kestlin
