#pragma once
// The value of a text as the program reads numbers typed by the user or kept
// in files: the leading decimal number (leading blanks skipped, sign and
// fraction allowed, reading stops at the first character that cannot continue
// the number, no number gives 0).
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane {

double valueOfText(std::string_view text);

// True when the whole text, apart from leading and trailing blanks, is one
// such number.
bool isNumber(std::string_view text);

// Stores a value into a 32-bit whole number: halves go to the even
// neighbour; a value outside the type's range is run-time failure 6.
std::int32_t toWholeNumber(double value);

// Converts a text that must be a whole number ("PresetIndex", check-box
// values): not a number is failure 13, out of range failure 6.
std::int32_t textToWholeNumber(std::string_view text);

// Plain decimal text of a value: no leading zeros, a fraction only when the
// value has one ("0250" is written as "250").
std::string decimalText(double value);

}  // namespace kelvane
