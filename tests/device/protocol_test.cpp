#include "device/protocol.h"

#include <gtest/gtest.h>

#include "testkit/files.h"

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testkit::failureOf;

Bytes reportOf(const CommandBytes& bytes) {
  Bytes report(9, 0xEE);
  fillOutputReport(report, bytes);
  return report;
}

TEST(ProtocolTest, CommandsCarryTheClampedValueLowByteFirstAndLeaveTheOtherBytes) {
  for (const auto& [requested, lo, hi] : {std::tuple{1500, 0xFF, 0x03}, {-5, 0x00, 0x00}, {256, 0x00, 0x01},
                                         {1023, 0xFF, 0x03}, {501, 0xF5, 0x01}}) {
    CommandBytes bytes{};
    encodeSetPanelValue(bytes, clampBrightness(requested));
    EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x20, std::uint8_t(lo), std::uint8_t(hi), 0, 0, 0, 0, 0})) << requested;
  }
  CommandBytes bytes{};
  encodeSetPanelValue(bytes, 512);
  encodeExecutePanelChange(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x10, 0x03, 0x02, 0, 0, 0, 0, 0}));
  encodeReadPanelValue(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x21, 0x03, 0x02, 0, 0, 0, 0, 0}));
  encodeReadMotion(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x11, 0x03, 0x02, 0, 0, 0, 0, 0}));
  encodeSetStepChange(bytes);
  EXPECT_EQ(reportOf(bytes), (Bytes{0, 0x30, 0x01, 0x02, 0, 0, 0, 0, 0}));

  EXPECT_EQ(loByte(-2607), 0xD1);
  EXPECT_EQ(hiByte(-2607), 0xF5);
  EXPECT_EQ(failureOf([] { loByte(32768); }), rt::Overflow);  // does not fit the 16-bit argument
  EXPECT_EQ(failureOf([] { hiByte(-32769); }), rt::Overflow);
}

TEST(ProtocolTest, AnswersShorterThanTheirFieldsAreFailureNine) {
  const std::tuple<Bytes, int, std::int32_t, int, bool> cases[] = {  // value failure, value, motion failure, moving
      {{0}, 0, 0, rt::SubscriptOutOfRange, false},
      {{0, 0x21}, rt::SubscriptOutOfRange, 0, rt::SubscriptOutOfRange, false},
      {{0, 0x21, 0x2C}, rt::SubscriptOutOfRange, 0, 0, true},
      {{0, 0x21, 0x2C, 0x01}, 0, 300, 0, true},
      {{0, 0x11, 0x00, 0x07, 0, 0, 0, 0, 0}, 0, 0x700, 0, false},
  };
  for (const auto& [answer, valueFailure, value, motionFailure, moving] : cases) {
    SCOPED_TRACE(answer.size());
    std::int32_t v = -1;
    bool m = !moving;
    EXPECT_EQ(failureOf([&, &answer = answer] { v = panelValueOf(answer); }), valueFailure);
    EXPECT_EQ(failureOf([&, &answer = answer] { m = movingOf(answer); }), motionFailure);
    if (valueFailure == 0) { EXPECT_EQ(v, value); }
    if (motionFailure == 0) { EXPECT_EQ(m, moving); }
  }
}

TEST(ProtocolTest, AnExchangeReadsAsOneLineWhateverTheAnswer) {
  CommandBytes sent{};
  encodeSetPanelValue(sent, 450);
  EXPECT_EQ(describeExchange(sent, {0, 0x20, 0xC2, 0x01}, true), "SetPanelValue 450: acknowledged");
  EXPECT_EQ(describeExchange(sent, {0, 0x21}, true), "SetPanelValue 450: unexpected answer 21");
  EXPECT_EQ(describeExchange(sent, {}, false), "SetPanelValue 450: no answer");
  encodeReadPanelValue(sent);
  EXPECT_EQ(describeExchange(sent, {0, 0x21, 0x2C}, true), "ReadPanelValue: 44");
}

}  // namespace
}  // namespace kelvane
