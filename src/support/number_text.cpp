#include "support/number_text.h"

#include <charconv>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "support/runtime_error.h"

namespace kelvane {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the number at the start of text (after blanks were skipped):
// [sign] digits [. digits] or [sign] . digits. 0 when there is none.
std::size_t numberLength(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    std::size_t j = i + 1;
    std::size_t fraction = 0;
    while (j < text.size() && isDigit(text[j])) ++j, ++fraction;
    if (digits + fraction > 0) i = j;
    digits += fraction;
  }
  return digits > 0 ? i : 0;
}

std::string_view skipBlanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  return text.substr(i);
}

}  // namespace

double valueOfText(std::string_view text) {
  text = skipBlanks(text);
  const std::size_t n = numberLength(text);
  if (n == 0) return 0.0;
  // from_chars ignores the C locale (Qt sets it from the environment) and
  // takes no leading '+'.
  std::string_view number = text.substr(0, n);
  const bool negative = number.front() == '-';
  if (number.front() == '+' || negative) number.remove_prefix(1);
  double v = 0.0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), v);
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range with a whole part of only zeros is an underflow (a long
    // run of zeros after the point), anything else an overflow.
    const std::string_view whole = number.substr(0, number.find('.'));
    v = whole.find_first_not_of('0') == std::string_view::npos
            ? 0.0
            : std::numeric_limits<double>::infinity();
  }
  if (negative) v = -v;
  return v == 0.0 ? 0.0 : v;  // no negative zero
}

bool isNumber(std::string_view text) {
  text = skipBlanks(text);
  std::size_t end = text.size();
  while (end > 0 && isBlank(text[end - 1])) --end;
  text = text.substr(0, end);
  return !text.empty() && numberLength(text) == text.size();
}

std::int32_t toWholeNumber(double value) {
  if (std::isnan(value)) throw RuntimeError(rt::Overflow);
  const double rounded = std::nearbyint(value);  // FE_TONEAREST: halves to even
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    throw RuntimeError(rt::Overflow);
  return static_cast<std::int32_t>(rounded);
}

std::int32_t textToWholeNumber(std::string_view text) {
  if (!isNumber(text)) throw RuntimeError(rt::TypeMismatch);
  return toWholeNumber(valueOfText(text));
}

std::string decimalText(double value) {
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    return std::to_string(static_cast<long long>(value));
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace kelvane
