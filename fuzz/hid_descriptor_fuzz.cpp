// Feeds arbitrary bytes to the report-descriptor parser: it must neither
// crash nor read past the end, and what it reports must stay consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/hid_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so any read past the end lands outside the heap block.
  const std::vector<std::uint8_t> bytes(data, data + size);
  const kelvane::HidDescriptorInfo info = kelvane::parseHidDescriptor(bytes);
  const kelvane::HidCaps& c = info.caps;
  // A report kind that exists is at least one data byte plus the ID byte.
  if (c.inputReportByteLength == 1 || c.outputReportByteLength == 1 || c.featureReportByteLength == 1)
    std::abort();
  if (info.wellFormed && c.numberLinkCollectionNodes == 0) std::abort();
  return 0;
}
