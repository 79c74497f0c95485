#pragma once
// A small HID report-descriptor parser that derives the capability summary
// (HidCaps) a backend without the Windows HID parser has to supply.
//
// What it computes, and how far it follows the Windows parser:
// - usage and usagePage: those of the first top-level collection.
// - report byte lengths: for each kind (input, output, feature) the largest
//   report in bytes plus 1 for the report ID byte, which Windows always puts
//   in front (ID 0 when the device does not number its reports). A kind
//   without any report has length 0.
// - numberLinkCollectionNodes: every Collection item.
// - button/value caps and data indices (best effort): constant fields give
//   none; an array field, or a variable field one bit wide, gives button caps,
//   anything else value caps. Each usage or usage range of the field is one
//   cap. A range gives one data index per usage; of a variable value field's
//   single usages the last one covers all remaining fields with one index.
//   A data field without any usage counts as one cap with one index.
// hidraw exposes the whole device rather than one top-level collection, so
// the lengths and counts cover all of the descriptor's collections.
#include <cstdint>
#include <span>

#include "device/hid_platform.h"

namespace kelvane {

struct HidDescriptorInfo {
  HidCaps caps;
  // Some Report ID item appeared: every report starts with its ID byte.
  bool usesReportIds = false;
  // False for a truncated item, unbalanced collections, a Push/Pop misuse, a
  // report ID of 0 or above 255, or no collection at all. The caps then hold
  // whatever was gathered up to that point.
  bool wellFormed = false;
};

HidDescriptorInfo parseHidDescriptor(std::span<const std::uint8_t> bytes);

}  // namespace kelvane
