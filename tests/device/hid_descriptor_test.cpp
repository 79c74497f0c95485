#include "device/hid_descriptor.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The dimmer: vendor page, one 8-byte input and one 8-byte output report.
const Bytes kDimmer = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,              //
                       0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,  //
                       0x95, 0x08, 0x81, 0x02, 0x09, 0x03, 0x91, 0x02, 0xC0};
// A vendor device with 64-byte array reports, as simple custom HID firmware has.
const Bytes kVendor64 = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x19, 0x01, 0x29, 0x40,
                         0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x00,
                         0x19, 0x01, 0x29, 0x40, 0x91, 0x00, 0xC0};
const Bytes kBootMouse = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09,
                          0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01,
                          0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30,
                          0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06,
                          0xC0, 0xC0};
const Bytes kBootKeyboard = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
                             0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01,
                             0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01,
                             0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
                             0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
                             0x81, 0x00, 0xC0};
// Two top-level collections with numbered reports: a 4-byte mouse report
// (ID 1), a 16-byte input (ID 2), a 63-byte output (ID 3), a 7-byte feature
// (ID 4). The vendor part saves and restores its globals with Push and Pop.
const Bytes kNumbered = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x04,
                         0x09, 0x30, 0x81, 0x02, 0xC0,                                      //
                         0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xA4, 0x85, 0x02, 0x95,  //
                         0x10, 0x09, 0x01, 0x81, 0x02, 0xB4, 0x85, 0x03, 0x95, 0x3F, 0x09,  //
                         0x02, 0x91, 0x02, 0x85, 0x04, 0x95, 0x07, 0x09, 0x03, 0xB1, 0x02, 0xC0};

struct Expected {
  const char* name;
  const Bytes* bytes;
  std::uint16_t usage, usagePage, in, out, feature, nodes;
  std::uint16_t inButtons, inValues, inIndices, outButtons, outValues, outIndices;
  bool reportIds;
};

TEST(HidDescriptor, RealDescriptorsGiveTheCapsWindowsReports) {
  const Expected table[] = {
      {"dimmer", &kDimmer, 0x01, 0xFF00, 9, 9, 0, 1, 0, 1, 1, 0, 1, 1, false},
      {"vendor 64", &kVendor64, 0x01, 0xFF00, 65, 65, 0, 1, 1, 0, 64, 1, 0, 64, false},
      {"boot mouse", &kBootMouse, 0x02, 0x01, 4, 0, 0, 2, 1, 2, 5, 0, 0, 0, false},
      {"boot keyboard", &kBootKeyboard, 0x06, 0x01, 9, 2, 0, 1, 2, 0, 110, 1, 0, 5, false},
      {"numbered reports", &kNumbered, 0x02, 0x01, 17, 64, 8, 2, 0, 2, 2, 0, 1, 1, true},
  };
  for (const Expected& e : table) {
    SCOPED_TRACE(e.name);
    const HidDescriptorInfo info = parseHidDescriptor(*e.bytes);
    const HidCaps& c = info.caps;
    EXPECT_TRUE(info.wellFormed);
    EXPECT_EQ(info.usesReportIds, e.reportIds);
    EXPECT_EQ(c.usage, e.usage);
    EXPECT_EQ(c.usagePage, e.usagePage);
    EXPECT_EQ(c.inputReportByteLength, e.in);
    EXPECT_EQ(c.outputReportByteLength, e.out);
    EXPECT_EQ(c.featureReportByteLength, e.feature);
    EXPECT_EQ(c.numberLinkCollectionNodes, e.nodes);
    EXPECT_EQ(c.numberInputButtonCaps, e.inButtons);
    EXPECT_EQ(c.numberInputValueCaps, e.inValues);
    EXPECT_EQ(c.numberInputDataIndices, e.inIndices);
    EXPECT_EQ(c.numberOutputButtonCaps, e.outButtons);
    EXPECT_EQ(c.numberOutputValueCaps, e.outValues);
    EXPECT_EQ(c.numberOutputDataIndices, e.outIndices);
  }
}

TEST(HidDescriptor, ExtendedUsageCarriesItsOwnPage) {
  // Usage Page 1, then a 4-byte usage naming page FF00, usage 5.
  const Bytes bytes = {0x05, 0x01, 0x0B, 0x05, 0x00, 0x00, 0xFF, 0xA1, 0x01, 0xC0};
  const HidDescriptorInfo info = parseHidDescriptor(bytes);
  EXPECT_TRUE(info.wellFormed);
  EXPECT_EQ(info.caps.usage, 0x05);
  EXPECT_EQ(info.caps.usagePage, 0xFF00);
  EXPECT_EQ(info.caps.inputReportByteLength, 0);
}

// A collection holding `depth` nested Pushes and as many Pops.
Bytes pushes(std::size_t depth) {
  Bytes bytes = {0xA1, 0x01};
  bytes.insert(bytes.end(), depth, 0xA4);
  bytes.insert(bytes.end(), depth, 0xB4);
  bytes.push_back(0xC0);
  return bytes;
}

TEST(HidDescriptor, MalformedInputIsFlaggedAndNeverReadPastItsEnd) {
  EXPECT_TRUE(parseHidDescriptor(pushes(16)).wellFormed);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"no collection", {0x75, 0x08, 0x95, 0x08, 0x81, 0x02}},
      {"collection left open", {0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}},
      {"end without collection", {0xC0, 0xA1, 0x01, 0xC0}},
      {"short item cut off", {0x09, 0x01, 0xA1, 0x01, 0x26, 0xFF}},
      {"4-byte item cut off", {0xA1, 0x01, 0xC0, 0x27, 0x01, 0x02}},
      {"long item cut off", {0xA1, 0x01, 0xC0, 0xFE, 0x10, 0x00, 0x01}},
      {"long item header cut off", {0xA1, 0x01, 0xC0, 0xFE, 0x01}},
      {"report ID 0", {0xA1, 0x01, 0x85, 0x00, 0xC0}},
      {"report ID above 255", {0xA1, 0x01, 0x86, 0x00, 0x01, 0xC0}},
      {"pop without push", {0xA1, 0x01, 0xB4, 0xC0}},
      {"push too deep", pushes(17)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An exact-size heap copy: a read past the end is seen by the sanitizers.
    const std::vector<std::uint8_t> exact(c.bytes);
    EXPECT_FALSE(parseHidDescriptor(exact).wellFormed);
  }
  // Every prefix of a real descriptor parses without fault; only the whole is well formed.
  for (std::size_t n = 0; n < kBootKeyboard.size(); ++n) {
    const Bytes prefix(kBootKeyboard.begin(), kBootKeyboard.begin() + static_cast<long>(n));
    EXPECT_FALSE(parseHidDescriptor(prefix).wellFormed) << n;
  }
  // A long item that fits is skipped, and huge sizes saturate rather than wrap.
  const Bytes skipped = {0xFE, 0x02, 0x00, 0xAA, 0xBB, 0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF,
                         0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0};
  const HidDescriptorInfo big = parseHidDescriptor(skipped);
  EXPECT_TRUE(big.wellFormed);
  EXPECT_EQ(big.caps.inputReportByteLength, 0xFFFF);
}

}  // namespace
}  // namespace kelvane
