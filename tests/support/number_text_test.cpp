#include "support/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "testkit/files.h"

namespace kelvane {
namespace {

using testkit::failureOf;
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumberTextTest, TheValueIsTheLeadingDecimalNumber) {
  const std::tuple<std::string, double, bool> cases[] = {  // text, value, the whole text is a number
      {"500", 500, true},     {"  42", 42, true},   {"\t7", 7, true},       {"+5", 5, true},      {"-5", -5, true},
      {"1023.6", 1023.6, true}, {".5", 0.5, true},  {"-.5", -0.5, true},    {"5.", 5, true},      {"050", 50, true},
      {" 12 ", 12, true},     {"7\r\n", 7, true},   {"5x", 5, false},       {"x", 0, false},      {"-", 0, false},
      {"", 0, false},         {"   ", 0, false},    {".", 0, false},        {"+-5", 0, false},    {"- 5", 0, false},
      {"12 34", 12, false},   {"1,5", 1, false},    {"1.2.3", 1.2, false},  {"0x1F", 0, false},
      // Exponents and other number forms are not read; control characters are
      // no blanks; digits of other scripts are no digits.
      {"1e3", 1, false},      {"2E-1", 2, false},   {"&H10", 0, false},     {"\x01" "5", 0, false},
      {std::string("5\0", 2), 5, false},            {"\xEF\xBC\x95", 0, false}, {"5\xD9\xA5", 5, false},
  };
  for (const auto& [text, value, number] : cases) {
    EXPECT_EQ(valueOfText(text), value) << '"' << text << '"';
    EXPECT_EQ(isNumber(text), number) << '"' << text << '"';
  }
  EXPECT_FALSE(std::signbit(valueOfText("-0.000")));
}

TEST(NumberTextTest, VeryLongNumbersOverflowOrUnderflowSensibly) {
  const std::string nines(10000, '9'), zeros(10000, '0');
  EXPECT_EQ(valueOfText(nines), kInf);
  EXPECT_EQ(valueOfText("-" + nines + "abc"), -kInf);
  EXPECT_TRUE(isNumber(nines));
  EXPECT_EQ(valueOfText(zeros + "5"), 5);
  EXPECT_EQ(valueOfText("00." + zeros + "1"), 0);
  EXPECT_FALSE(std::signbit(valueOfText("-." + std::string(400, '0') + "1")));
  EXPECT_EQ(valueOfText("1" + std::string(400, '0') + ".5"), kInf);
}

TEST(NumberTextTest, StoringRoundsHalvesToEvenAndOverflowsOutsideTheRange) {
  for (const auto& [value, stored] : {std::pair{12.5, 12}, {13.5, 14}, {-12.5, -12}, {0.5, 0}, {1.5, 2}, {-0.5, 0},
                                      {1023.6, 1024}, {2147483647.4, 2147483647}, {-2147483648.5, -2147483647 - 1}})
    EXPECT_EQ(toWholeNumber(value), stored) << value;
  for (const double value : {2147483647.5, -2147483649.0, kInf, std::nan("")})
    EXPECT_EQ(failureOf([&] { toWholeNumber(value); }), rt::Overflow) << value;
  EXPECT_EQ(textToWholeNumber(" 13.5 "), 14);
  for (const auto& [text, failure] : {std::pair{"abc", rt::TypeMismatch}, {"", rt::TypeMismatch},
                                      {"5x", rt::TypeMismatch}, {"2147483648", rt::Overflow}})
    EXPECT_EQ(failureOf([text = text] { textToWholeNumber(text); }), failure) << text;
  EXPECT_EQ(decimalText(-0.0), "0");
  EXPECT_EQ(decimalText(12.5), "12.5");
  EXPECT_EQ(decimalText(valueOfText("0250")), "250");
}

}  // namespace
}  // namespace kelvane
