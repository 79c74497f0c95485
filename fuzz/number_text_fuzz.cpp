// Any text typed, pasted or read from a file goes through the value-of-text
// reader: it must never crash and its three views of a text must agree.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/number_text.h"
#include "support/runtime_error.h"

using namespace kelvane;

namespace {
void require(bool condition) {
  if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const double value = valueOfText(text);
  require(!std::isnan(value));
  require(!(value == 0.0 && std::signbit(value)));

  const bool number = isNumber(text);
  try {
    const std::int32_t whole = textToWholeNumber(text);
    require(number);
    require(whole == toWholeNumber(value));
    // The plain form of a stored value reads back as that value.
    require(valueOfText(decimalText(whole)) == whole);
    require(isNumber(decimalText(whole)));
  } catch (const RuntimeError& e) {
    // A number fails only by being too large, anything else is a mismatch.
    require(e.number() == (number ? rt::Overflow : rt::TypeMismatch));
  }

  if (number) {
    // Blanks around a number and text after it change nothing of its value.
    require(isNumber(" " + text + " "));
    require(valueOfText(" " + text + " ") == value);
    require(valueOfText(text + "x") == value);
    require(!isNumber(text + "x"));
  }
  return 0;
}
