#include "device/hid_descriptor.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace kelvane {

namespace {

enum ReportKind { kInput = 0, kOutput = 1, kFeature = 2 };

// Item tags, the prefix byte without its size bits.
namespace tag {
constexpr std::uint8_t Input = 0x80, Output = 0x90, Feature = 0xB0, Collection = 0xA0,
                       EndCollection = 0xC0;
constexpr std::uint8_t UsagePage = 0x04, ReportSize = 0x74, ReportId = 0x84, ReportCount = 0x94,
                       Push = 0xA4, Pop = 0xB4;
constexpr std::uint8_t Usage = 0x08, UsageMinimum = 0x18, UsageMaximum = 0x28;
constexpr std::uint8_t LongItem = 0xFE;
}  // namespace tag

constexpr std::uint8_t kMainConstant = 0x01;  // data bit 0 of Input/Output/Feature
constexpr std::uint8_t kMainVariable = 0x02;  // bit 1: variable (else array)
constexpr std::size_t kMaxPushDepth = 16;
constexpr std::uint64_t kBitsCeiling = std::uint64_t{1} << 40;  // keeps sums from wrapping

struct Globals {
  std::uint32_t usagePage = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint32_t reportId = 0;
};

// A usage or usage range in extended form (page in the high 16 bits).
struct UsageEntry {
  std::uint32_t min = 0;
  std::uint32_t max = 0;
  bool range = false;
  std::uint64_t size() const { return range && max >= min ? std::uint64_t{max} - min + 1 : 1; }
};

struct KindCounts {
  std::uint64_t buttonCaps = 0;
  std::uint64_t valueCaps = 0;
  std::uint64_t dataIndices = 0;
};

std::uint16_t clamp16(std::uint64_t v) { return static_cast<std::uint16_t>(std::min<std::uint64_t>(v, 0xFFFF)); }

class Parser {
 public:
  HidDescriptorInfo run(std::span<const std::uint8_t> bytes) {
    const bool complete = walk(bytes);
    info_.wellFormed = complete && depth_ == 0 && collections_ > 0;
    finish();
    return info_;
  }

 private:
  // False at the first structural fault; parsing stops there.
  bool walk(std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
      const std::uint8_t prefix = bytes[i];
      if (prefix == tag::LongItem) {  // no long items are defined; skip the data
        if (bytes.size() - i < 3) return false;
        const std::size_t dataSize = bytes[i + 1];
        if (bytes.size() - i - 3 < dataSize) return false;
        i += 3 + dataSize;
        continue;
      }
      const std::size_t sizeCode = prefix & 0x03;
      const std::size_t dataSize = sizeCode == 3 ? 4 : sizeCode;
      if (bytes.size() - i - 1 < dataSize) return false;
      std::uint32_t data = 0;
      for (std::size_t k = 0; k < dataSize; ++k) data |= std::uint32_t{bytes[i + 1 + k]} << (8 * k);
      if (!item(static_cast<std::uint8_t>(prefix & 0xFC), data, dataSize)) return false;
      i += 1 + dataSize;
    }
    return true;
  }

  bool item(std::uint8_t itemTag, std::uint32_t data, std::size_t dataSize) {
    switch (itemTag) {
      case tag::Input: mainItem(kInput, data); break;
      case tag::Output: mainItem(kOutput, data); break;
      case tag::Feature: mainItem(kFeature, data); break;
      case tag::Collection:
        if (collections_ == 0) topLevelUsage();
        ++collections_;
        ++depth_;
        clearLocals();
        break;
      case tag::EndCollection:
        if (depth_ == 0) return false;
        --depth_;
        clearLocals();
        break;
      case tag::UsagePage: globals_.usagePage = data & 0xFFFF; break;
      case tag::ReportSize: globals_.reportSize = data; break;
      case tag::ReportCount: globals_.reportCount = data; break;
      case tag::ReportId:
        if (data == 0 || data > 0xFF) return false;
        globals_.reportId = data;
        info_.usesReportIds = true;
        break;
      case tag::Push:
        if (stack_.size() >= kMaxPushDepth) return false;
        stack_.push_back(globals_);
        break;
      case tag::Pop:
        if (stack_.empty()) return false;
        globals_ = stack_.back();
        stack_.pop_back();
        break;
      case tag::Usage:
        flushMinimum();
        usages_.push_back({extended(data, dataSize), 0, false});
        break;
      case tag::UsageMinimum:
        flushMinimum();
        minimum_ = extended(data, dataSize);
        break;
      case tag::UsageMaximum:
        if (minimum_) {
          usages_.push_back({*minimum_, extended(data, dataSize), true});
          minimum_.reset();
        } else {  // a maximum without a minimum: keep it as a single usage
          usages_.push_back({extended(data, dataSize), 0, false});
        }
        break;
      default:  // logical/physical ranges, units, strings, designators, delimiters
        break;
    }
    return true;
  }

  std::uint32_t extended(std::uint32_t data, std::size_t dataSize) const {
    return dataSize == 4 ? data : (globals_.usagePage << 16) | (data & 0xFFFF);
  }

  void flushMinimum() {
    if (minimum_) usages_.push_back({*minimum_, 0, false});
    minimum_.reset();
  }

  void clearLocals() {
    usages_.clear();
    minimum_.reset();
  }

  void topLevelUsage() {
    flushMinimum();
    if (usages_.empty()) {
      info_.caps.usagePage = static_cast<std::uint16_t>(globals_.usagePage);
      return;
    }
    info_.caps.usage = static_cast<std::uint16_t>(usages_.front().min & 0xFFFF);
    info_.caps.usagePage = static_cast<std::uint16_t>(usages_.front().min >> 16);
  }

  void mainItem(ReportKind kind, std::uint32_t flags) {
    flushMinimum();
    const std::uint64_t fieldBits = std::uint64_t{globals_.reportSize} * globals_.reportCount;
    std::uint64_t& bits = reportBits_[globals_.reportId][kind];
    bits = std::min(bits + fieldBits, kBitsCeiling);
    if (!(flags & kMainConstant) && globals_.reportCount > 0) countCaps(counts_[kind], flags);
    clearLocals();
  }

  void countCaps(KindCounts& c, std::uint32_t flags) {
    const bool variable = flags & kMainVariable;
    const bool button = !variable || globals_.reportSize == 1;
    if (usages_.empty()) {
      ++(button ? c.buttonCaps : c.valueCaps);
      ++c.dataIndices;
      return;
    }
    if (!variable) {  // an array selects among all its usages, whatever its count
      c.buttonCaps += usages_.size();
      for (const UsageEntry& u : usages_) c.dataIndices = std::min(c.dataIndices + u.size(), kBitsCeiling);
      return;
    }
    // A variable field maps one usage to each of its reportCount fields.
    std::uint64_t remaining = globals_.reportCount;
    for (std::size_t k = 0; k < usages_.size() && remaining > 0; ++k) {
      const UsageEntry& u = usages_[k];
      const bool last = k + 1 == usages_.size();
      std::uint64_t fields = u.range ? std::min(u.size(), remaining) : 1;
      std::uint64_t indices = fields;
      if (last && !u.range && !button) fields = remaining;  // one value cap, repeated
      ++(button ? c.buttonCaps : c.valueCaps);
      c.dataIndices = std::min(c.dataIndices + indices, kBitsCeiling);
      remaining -= fields;
    }
  }

  void finish() {
    std::array<std::uint64_t, 3> largest{};
    for (const auto& perKind : reportBits_)
      for (int k = 0; k < 3; ++k) largest[k] = std::max(largest[k], perKind[k]);
    const auto length = [](std::uint64_t bits) -> std::uint16_t {
      return bits == 0 ? 0 : clamp16((bits + 7) / 8 + 1);
    };
    HidCaps& caps = info_.caps;
    caps.inputReportByteLength = length(largest[kInput]);
    caps.outputReportByteLength = length(largest[kOutput]);
    caps.featureReportByteLength = length(largest[kFeature]);
    caps.numberLinkCollectionNodes = clamp16(collections_);
    caps.numberInputButtonCaps = clamp16(counts_[kInput].buttonCaps);
    caps.numberInputValueCaps = clamp16(counts_[kInput].valueCaps);
    caps.numberInputDataIndices = clamp16(counts_[kInput].dataIndices);
    caps.numberOutputButtonCaps = clamp16(counts_[kOutput].buttonCaps);
    caps.numberOutputValueCaps = clamp16(counts_[kOutput].valueCaps);
    caps.numberOutputDataIndices = clamp16(counts_[kOutput].dataIndices);
    caps.numberFeatureButtonCaps = clamp16(counts_[kFeature].buttonCaps);
    caps.numberFeatureValueCaps = clamp16(counts_[kFeature].valueCaps);
    caps.numberFeatureDataIndices = clamp16(counts_[kFeature].dataIndices);
  }

  HidDescriptorInfo info_;
  Globals globals_;
  std::vector<Globals> stack_;
  std::vector<UsageEntry> usages_;
  std::optional<std::uint32_t> minimum_;
  std::uint64_t collections_ = 0;
  std::uint64_t depth_ = 0;
  // Bits per report ID (0 when the device does not number its reports) and kind.
  std::array<std::array<std::uint64_t, 3>, 256> reportBits_{};
  std::array<KindCounts, 3> counts_{};
};

}  // namespace

HidDescriptorInfo parseHidDescriptor(std::span<const std::uint8_t> bytes) {
  return Parser().run(bytes);
}

}  // namespace kelvane
