#pragma once
// The dimmer's command set as pure functions over the command bytes and the
// answer reports, so the wire format is tested with literal bytes.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

// Command code and parameters of the next output report. Never cleared: a
// command writes only the bytes it needs and the rest are sent as left over.
using CommandBytes = std::array<std::uint8_t, 8>;

namespace cmd {
inline constexpr std::uint8_t SetPanelValue = 0x20;
inline constexpr std::uint8_t ExecutePanelChange = 0x10;
inline constexpr std::uint8_t ReadPanelValue = 0x21;
inline constexpr std::uint8_t ReadMotion = 0x11;
inline constexpr std::uint8_t SetStepChange = 0x30;
}  // namespace cmd

inline constexpr int kMaxBrightness = 1023;

// Bits 0-7 and 8-15 of a 16-bit value; a value outside the 16-bit range is
// run-time failure 6, as storing it into the 16-bit argument would be.
std::uint8_t loByte(std::int32_t value);
std::uint8_t hiByte(std::int32_t value);

// Clamps a requested brightness into 0..1023.
std::int32_t clampBrightness(std::int32_t value);

void encodeSetPanelValue(CommandBytes& bytes, std::int32_t value);
void encodeExecutePanelChange(CommandBytes& bytes);
void encodeReadPanelValue(CommandBytes& bytes);
void encodeReadMotion(CommandBytes& bytes);
void encodeSetStepChange(CommandBytes& bytes);

// Fills an output report: byte 0 is the report ID (0), byte k is command
// byte k-1. A report longer than 9 bytes runs past the command bytes: what
// fits is copied, then run-time failure 9.
void fillOutputReport(std::vector<std::uint8_t>& report, const CommandBytes& bytes);

// Byte k of an answer; a byte past its end is run-time failure 9.
std::uint8_t answerByte(const std::vector<std::uint8_t>& answer, std::size_t k);

// The panel value of a ReadPanelValue answer: 256 x byte 3 + byte 2 when the
// answer has more than one byte, else 0.
std::int32_t panelValueOf(const std::vector<std::uint8_t>& answer);

// The moving flag of a ReadMotion answer (byte 2 non-zero).
bool movingOf(const std::vector<std::uint8_t>& answer);

// One exchange in words for a driver's debug log: the command sent and what
// came back ("ReadPanelValue: 312", "SetPanelValue 450: acknowledged").
// Never throws, whatever the answer holds; `answered` false: the read timed out.
std::string describeExchange(const CommandBytes& sent, const std::vector<std::uint8_t>& answer,
                             bool answered);

}  // namespace kelvane
