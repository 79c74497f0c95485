#include "device/protocol.h"

#include <cstdio>

#include "support/runtime_error.h"

namespace kelvane {

namespace {
std::int16_t toInt16(std::int32_t value) {
  if (value < -32768 || value > 32767) throw RuntimeError(rt::Overflow);
  return static_cast<std::int16_t>(value);
}
}  // namespace

std::uint8_t loByte(std::int32_t value) {
  return static_cast<std::uint8_t>(static_cast<std::uint16_t>(toInt16(value)) & 0xFF);
}

std::uint8_t hiByte(std::int32_t value) {
  // Masked as a 32-bit number, so a negative value gives its two's-complement
  // high byte rather than an overflow.
  const std::int32_t wide = toInt16(value);
  return static_cast<std::uint8_t>((static_cast<std::uint32_t>(wide) & 0xFF00u) >> 8);
}

std::int32_t clampBrightness(std::int32_t value) {
  if (value > kMaxBrightness) return kMaxBrightness;
  if (value < 0) return 0;
  return value;
}

void encodeSetPanelValue(CommandBytes& bytes, std::int32_t value) {
  bytes[0] = cmd::SetPanelValue;
  bytes[1] = loByte(value);
  bytes[2] = hiByte(value);
}

void encodeExecutePanelChange(CommandBytes& bytes) {
  bytes[0] = cmd::ExecutePanelChange;
  bytes[1] = 3;
}

void encodeReadPanelValue(CommandBytes& bytes) { bytes[0] = cmd::ReadPanelValue; }

void encodeReadMotion(CommandBytes& bytes) { bytes[0] = cmd::ReadMotion; }

void encodeSetStepChange(CommandBytes& bytes) {
  bytes[0] = cmd::SetStepChange;
  bytes[1] = 1;
}

void fillOutputReport(std::vector<std::uint8_t>& report, const CommandBytes& bytes) {
  if (report.empty()) return;
  report[0] = 0;
  for (std::size_t k = 1; k < report.size(); ++k) {
    if (k - 1 >= bytes.size()) throw RuntimeError(rt::SubscriptOutOfRange);
    report[k] = bytes[k - 1];
  }
}

std::uint8_t answerByte(const std::vector<std::uint8_t>& answer, std::size_t k) {
  if (k >= answer.size()) throw RuntimeError(rt::SubscriptOutOfRange);
  return answer[k];
}

std::int32_t panelValueOf(const std::vector<std::uint8_t>& answer) {
  if (answer.size() <= 1) return 0;
  return 256 * answerByte(answer, 3) + answerByte(answer, 2);
}

bool movingOf(const std::vector<std::uint8_t>& answer) { return answerByte(answer, 2) > 0; }

std::string describeExchange(const CommandBytes& sent, const std::vector<std::uint8_t>& answer,
                             bool answered) {
  const auto at = [&](std::size_t k) -> unsigned { return k < answer.size() ? answer[k] : 0u; };
  const unsigned value = sent[1] + 256u * sent[2];
  std::string text;
  switch (sent[0]) {
    case cmd::SetPanelValue: text = "SetPanelValue " + std::to_string(value); break;
    case cmd::ExecutePanelChange: text = "ExecutePanelChange"; break;
    case cmd::ReadPanelValue: text = "ReadPanelValue"; break;
    case cmd::ReadMotion: text = "ReadMotion"; break;
    case cmd::SetStepChange: text = "SetStepChange " + std::to_string(sent[1]); break;
    default: text = "command " + std::to_string(sent[0]); break;
  }
  if (!answered) return text + ": no answer";
  if (at(1) != sent[0]) {
    // Not this command's echo: the raw bytes say more than a guess.
    text += ": unexpected answer";
    char hex[4];
    for (std::size_t k = 1; k < answer.size(); ++k) {
      std::snprintf(hex, sizeof hex, " %02X", answer[k]);
      text += hex;
    }
    return text;
  }
  switch (sent[0]) {
    case cmd::ReadPanelValue: return text + ": " + std::to_string(at(2) + 256u * at(3));
    case cmd::ReadMotion: return text + (at(2) > 0 ? ": moving" : ": still");
    default: return text + ": acknowledged";
  }
}

}  // namespace kelvane
