#pragma once
// The ASCOM Alpaca protocol of Kelvane's CoverCalibrator (Alpaca API v1,
// interface version 2, device number 0) as one function from a request
// (method, path, query, form body) to a reply, over a small device
// interface; no sockets. The window program and the server without a window
// each put their own device behind it.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace kelvane {

namespace alpaca {
inline constexpr int NotImplemented = 0x400;
inline constexpr int InvalidValue = 0x401;
inline constexpr int NotConnected = 0x407;
inline constexpr int ActionNotImplemented = 0x40C;
// Driver errors: what went wrong with the dimmer.
inline constexpr int DimmerNotFound = 0x500;
inline constexpr int DimmerInUse = 0x501;
inline constexpr int DimmerSilent = 0x502;
inline constexpr int DriverFailure = 0x503;

inline constexpr std::uint16_t kDefaultDiscoveryPort = 32227;
}  // namespace alpaca

enum class CalibratorState { NotPresent = 0, Off = 1, NotReady = 2, Ready = 3, Unknown = 4, Error = 5 };

// What a device call could not do; number 0 means it did.
struct AlpacaFailure {
  int number = 0;
  std::string message;
  explicit operator bool() const { return number != 0; }
};

class AlpacaCalibrator {
 public:
  virtual ~AlpacaCalibrator() = default;
  virtual bool connected() const = 0;
  // Opens the dimmer, searching for it when needed.
  virtual AlpacaFailure connect() = 0;
  virtual void disconnect() = 0;
  virtual CalibratorState state() const = 0;
  // The panel's own last reading.
  virtual std::int32_t brightness() const = 0;
  // Both return as soon as the change is under way (0..1023 checked).
  virtual AlpacaFailure calibratorOn(std::int32_t value) = 0;
  virtual AlpacaFailure calibratorOff() = 0;
  // Why the state is Error.
  virtual AlpacaFailure failure() const = 0;
};

struct AlpacaReply {
  int status = 200;
  std::string contentType;
  std::string body;
};

class AlpacaService {
 public:
  AlpacaService(AlpacaCalibrator& device, std::string uniqueId);

  // The time of day for DeviceState, ISO 8601 in UTC.
  void setClock(std::function<std::string()> utcNow) { utcNow_ = std::move(utcNow); }
  // Where the management description says the server runs.
  void setLocation(std::string location) { location_ = std::move(location); }

  AlpacaReply handle(std::string_view method, std::string_view path, std::string_view query,
                     std::string_view body);

  std::uint32_t lastServerTransactionId() const { return serverTransactionId_; }
  // The ClientIDs that set Connected and have not cleared it.
  std::size_t connectedClients() const { return clients_.size(); }

 private:
  struct Params;
  AlpacaReply device(std::string_view method, std::string_view member, const Params& params);
  AlpacaReply management(std::string_view path, const Params& params);
  std::string setupPage() const;
  std::string json(const Params& params, const std::string* value, const AlpacaFailure& failure);

  AlpacaCalibrator& device_;
  std::string uniqueId_;
  std::string location_;
  std::function<std::string()> utcNow_;
  std::uint32_t serverTransactionId_ = 0;
  std::set<std::uint32_t> clients_;
};

// The answer to a discovery datagram, when it is one.
std::optional<std::string> discoveryReply(std::string_view datagram, std::uint16_t port);

// A decimal integer as Alpaca accepts it: digits with at most one leading
// minus, nothing else (no blanks, "+", exponent, point or hex).
std::optional<std::int64_t> parseAlpacaInteger(std::string_view text);

// Decodes a query or form body ("a=1&b=x%20y"); nullopt when an escape is
// malformed.
std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace);

// Request text made safe for a log line or a plain-text answer: at most
// maxLength characters, controls (line breaks included) and non-ASCII bytes
// replaced by "?".
std::string boundedText(std::string_view text, std::size_t maxLength = 80);

// A UniqueID for the device, made from 16 random bytes (UUID version 4 form).
std::string makeUniqueId(const std::function<std::uint32_t()>& random32);

std::string iso8601Utc();

}  // namespace kelvane
