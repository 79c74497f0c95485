#include "device/protocol.h"

#include <gtest/gtest.h>

#include "support/runtime_error.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes reportOf(const CommandBytes& bytes, std::size_t length = 9) {
  Bytes report(length, 0xEE);
  fillOutputReport(report, bytes);
  return report;
}

int failureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

TEST(ProtocolTest, SetPanelValueCarriesTheClampedValueAsLowThenHighByte) {
  struct Case {
    std::int32_t requested;
    std::uint8_t lo, hi;
  };
  for (const Case c : {Case{1500, 0xFF, 0x03}, Case{-5, 0x00, 0x00}, Case{256, 0x00, 0x01},
                       Case{1023, 0xFF, 0x03}, Case{0, 0, 0}, Case{501, 0xF5, 0x01}}) {
    SCOPED_TRACE(c.requested);
    CommandBytes bytes{};
    encodeSetPanelValue(bytes, clampBrightness(c.requested));
    EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x20, c.lo, c.hi, 0, 0, 0, 0, 0}));
  }
}

TEST(ProtocolTest, CommandsLeaveTheBytesTheyDoNotSet) {
  CommandBytes bytes{};
  encodeSetPanelValue(bytes, 512);
  encodeExecutePanelChange(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x10, 0x03, 0x02, 0, 0, 0, 0, 0}));
  encodeReadPanelValue(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0x00, 0x21, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}));
  encodeReadMotion(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x11, 0x03, 0x02, 0, 0, 0, 0, 0}));
  encodeSetStepChange(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x30, 0x01, 0x02, 0, 0, 0, 0, 0}));
}

TEST(ProtocolTest, ReportLengthsDecideHowManyCommandBytesGo) {
  const CommandBytes bytes{1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(reportOf(bytes, 9), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(reportOf(bytes, 4), (Bytes{0, 1, 2, 3}));
  EXPECT_EQ(reportOf(bytes, 1), (Bytes{0}));
  // Past the eight command bytes: what fits is copied, then failure 9.
  Bytes report(10, 0xEE);
  EXPECT_EQ(failureOf([&] { fillOutputReport(report, bytes); }), rt::SubscriptOutOfRange);
  EXPECT_EQ(report, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 0xEE}));
}

TEST(ProtocolTest, LowAndHighBytesOfSixteenBitValues) {
  struct Case {
    std::int32_t value;
    std::uint8_t lo, hi;
  };
  for (const Case c : {Case{0x1234, 0x34, 0x12}, Case{-1, 0xFF, 0xFF}, Case{-2607, 0xD1, 0xF5},
                       Case{-256, 0x00, 0xFF}, Case{-32768, 0x00, 0x80}, Case{32767, 0xFF, 0x7F}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(loByte(c.value), c.lo);
    EXPECT_EQ(hiByte(c.value), c.hi);
  }
  // A value that does not fit the 16-bit argument overflows.
  EXPECT_EQ(failureOf([] { loByte(32768); }), rt::Overflow);
  EXPECT_EQ(failureOf([] { hiByte(-32769); }), rt::Overflow);
}

TEST(ProtocolTest, AnswersShorterThanTheirFieldsAreFailureNine) {
  struct Case {
    Bytes answer;
    int valueFailure;
    std::int32_t value;
    int motionFailure;
    bool moving;
  };
  for (const Case& c : {Case{{0}, 0, 0, rt::SubscriptOutOfRange, false},
                        Case{{0, 0x21}, rt::SubscriptOutOfRange, 0, rt::SubscriptOutOfRange, false},
                        Case{{0, 0x21, 0x2C}, rt::SubscriptOutOfRange, 0, 0, true},
                        Case{{0, 0x21, 0x2C, 0x01}, 0, 300, 0, true},
                        Case{{0, 0x11, 0x00, 0x07, 0, 0, 0, 0, 0}, 0, 0x700, 0, false},
                        Case{{0, 0x11, 0x05, 0, 0, 0, 0, 0, 0}, 0, 5, 0, true}}) {
    SCOPED_TRACE(c.answer.size());
    std::int32_t value = -1;
    EXPECT_EQ(failureOf([&] { value = panelValueOf(c.answer); }), c.valueFailure);
    if (c.valueFailure == 0) {
      EXPECT_EQ(value, c.value);
    }
    bool moving = false;
    EXPECT_EQ(failureOf([&] { moving = movingOf(c.answer); }), c.motionFailure);
    if (c.motionFailure == 0) {
      EXPECT_EQ(moving, c.moving);
    }
  }
}

}  // namespace
}  // namespace kelvane
