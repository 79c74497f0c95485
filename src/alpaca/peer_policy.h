#pragma once
// Who may use the Alpaca server, free of sockets: this computer's own
// addresses (looked up again when a stranger shows up), the Host names a
// request may carry, and the connection slots shared among peers.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvane {

// An IPv6 address, or an IPv4 one in its mapped form (::ffff:a.b.c.d); the
// zone of a link-local address is not part of it.
struct IpAddress {
  std::array<std::uint8_t, 16> bytes{};
  bool isLoopback() const;  // 127.0.0.0/8 and ::1
  auto operator<=>(const IpAddress&) const = default;
};

// A dotted IPv4 address or an IPv6 address without brackets (a "%zone"
// suffix is dropped); nullopt for anything else, names included.
std::optional<IpAddress> parseIpAddress(std::string_view text);

class OwnAddresses {
 public:
  using Reader = std::function<std::vector<IpAddress>()>;
  using Clock = std::function<std::int64_t()>;  // milliseconds
  // Loopback addresses are always this computer's. The list of the others
  // is read when a peer is not in it, at most once per refreshMs, so that
  // a new DHCP lease is seen and a flood of strangers costs little.
  OwnAddresses(Reader read, Clock nowMs, std::int64_t refreshMs = 1000);
  bool contains(const IpAddress& address);

 private:
  Reader read_;
  Clock nowMs_;
  std::int64_t refreshMs_;
  std::optional<std::int64_t> readAt_;
  std::vector<IpAddress> list_;
};

// True when a Host header names this computer: absent (HTTP/1.0),
// "localhost", or one of its own addresses as a number, with any port. Other
// names are refused: a web page whose own name was made to resolve to this
// computer (DNS rebinding) must not reach the panel through the browser.
bool hostIsThisComputer(std::string_view host, OwnAddresses& own);

// Connection slots: a cap per peer address, and the last `reserved` slots
// only for peers that hold none, so one slow or hostile peer cannot keep
// everyone else out.
struct SlotLimits {
  int total = 128;
  int perPeer = 64;
  int reserved = 32;
};

class ConnectionSlots {
 public:
  using Limits = SlotLimits;
  explicit ConnectionSlots(const Limits& limits = {}) : limits_(limits) {}
  void setLimits(const Limits& limits) { limits_ = limits; }
  // False when the peer must be turned away (503).
  bool take(const IpAddress& peer);
  void give(const IpAddress& peer);
  int open() const { return open_; }

 private:
  Limits limits_;
  std::map<IpAddress, int> held_;
  int open_ = 0;
};

}  // namespace kelvane
