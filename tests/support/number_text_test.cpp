#include "support/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "support/runtime_error.h"

namespace kelvane {
namespace {

int failureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

TEST(NumberTextTest, TheValueIsTheLeadingDecimalNumber) {
  struct Case {
    std::string text;
    double value;
    bool number;
  };
  const Case cases[] = {
      {"500", 500, true},          {"  42", 42, true},        {"\t7", 7, true},
      {"+5", 5, true},             {"-5", -5, true},          {"1023.6", 1023.6, true},
      {".5", 0.5, true},           {"-.5", -0.5, true},       {"5.", 5, true},
      {"050", 50, true},           {" 12 ", 12, true},        {"7\r\n", 7, true},
      {"5x", 5, false},            {"x", 0, false},           {"-", 0, false},
      {"", 0, false},              {"   ", 0, false},        {".", 0, false},
      {"+-5", 0, false},           {"- 5", 0, false},         {"12 34", 12, false},
      {"1,5", 1, false},           {"1.2.3", 1.2, false},     {"0x1F", 0, false},
      // Exponents and other number forms are not read.
      {"1e3", 1, false},           {"2E-1", 2, false},        {"&H10", 0, false},
      // Control characters are no blanks; digits of other scripts are no digits.
      {"\x01" "5", 0, false},      {std::string("5\0", 2), 5, false},
      {"\xEF\xBC\x95", 0, false},  // fullwidth five
      {"5\xD9\xA5", 5, false},     // five, then an Arabic-Indic five
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    EXPECT_EQ(valueOfText(c.text), c.value);
    EXPECT_EQ(isNumber(c.text), c.number);
  }
  EXPECT_FALSE(std::signbit(valueOfText("-0")));
  EXPECT_FALSE(std::signbit(valueOfText("-0.000")));
}

TEST(NumberTextTest, VeryLongNumbersOverflowOrUnderflowSensibly) {
  const std::string nines(10000, '9');
  EXPECT_EQ(valueOfText(nines), std::numeric_limits<double>::infinity());
  EXPECT_EQ(valueOfText("-" + nines + "abc"), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(isNumber(nines));
  EXPECT_EQ(valueOfText(std::string(10000, '0') + "5"), 5);
  const std::string tiny = "0." + std::string(10000, '0') + "1";
  EXPECT_EQ(valueOfText(tiny), 0);
  EXPECT_EQ(valueOfText("0" + tiny), 0);  // leading zeros before the point as well
  EXPECT_EQ(valueOfText("-." + std::string(400, '0') + "1"), 0);
  EXPECT_FALSE(std::signbit(valueOfText("-." + std::string(400, '0') + "1")));
  EXPECT_EQ(valueOfText("1" + std::string(400, '0') + ".5"), std::numeric_limits<double>::infinity());
}

TEST(NumberTextTest, StoringRoundsHalvesToEven) {
  struct Case {
    double value;
    std::int32_t stored;
  };
  for (const Case c : {Case{12.5, 12}, Case{13.5, 14}, Case{-12.5, -12}, Case{0.5, 0}, Case{1.5, 2},
                       Case{1023.6, 1024}, Case{12.4999, 12}, Case{-0.5, 0},
                       Case{2147483647.4, 2147483647}, Case{-2147483648.5, -2147483647 - 1}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(toWholeNumber(c.value), c.stored);
  }
  EXPECT_EQ(failureOf([] { toWholeNumber(2147483647.5); }), rt::Overflow);
  EXPECT_EQ(failureOf([] { toWholeNumber(-2147483649.0); }), rt::Overflow);
  EXPECT_EQ(failureOf([] { toWholeNumber(std::numeric_limits<double>::infinity()); }), rt::Overflow);
  EXPECT_EQ(failureOf([] { toWholeNumber(std::nan("")); }), rt::Overflow);
}

TEST(NumberTextTest, TextThatMustBeAWholeNumber) {
  EXPECT_EQ(textToWholeNumber(" 13.5 "), 14);
  EXPECT_EQ(textToWholeNumber("-7"), -7);
  EXPECT_EQ(failureOf([] { textToWholeNumber("abc"); }), rt::TypeMismatch);
  EXPECT_EQ(failureOf([] { textToWholeNumber(""); }), rt::TypeMismatch);
  EXPECT_EQ(failureOf([] { textToWholeNumber("5x"); }), rt::TypeMismatch);
  EXPECT_EQ(failureOf([] { textToWholeNumber(std::string(40, '1')); }), rt::Overflow);
  EXPECT_EQ(failureOf([] { textToWholeNumber("2147483648"); }), rt::Overflow);
}

TEST(NumberTextTest, DecimalTextIsThePlainForm) {
  EXPECT_EQ(decimalText(250), "250");
  EXPECT_EQ(decimalText(-5), "-5");
  EXPECT_EQ(decimalText(-0.0), "0");
  EXPECT_EQ(decimalText(12.5), "12.5");
  EXPECT_EQ(decimalText(valueOfText("0250")), "250");
}

}  // namespace
}  // namespace kelvane
