#include "alpaca/peer_policy.h"

#include <algorithm>
#include <string>

namespace kelvane {

namespace {

std::optional<std::array<std::uint8_t, 4>> parseIpv4(std::string_view text) {
  std::array<std::uint8_t, 4> out{};
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos || dot == 0 || dot > 3) return std::nullopt;
    unsigned value = 0;
    for (const char c : text.substr(0, dot)) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(value);
    text.remove_prefix(i < 3 ? dot + 1 : dot);
  }
  return out;
}

// Colon-separated hex groups; the last may be a dotted IPv4 address.
bool parseGroups(std::string_view text, std::vector<unsigned>& out, bool ipv4Tail) {
  if (text.empty()) return true;
  for (;;) {
    const std::size_t colon = text.find(':');
    const std::string_view group = text.substr(0, colon);
    if (colon == std::string_view::npos && ipv4Tail && group.find('.') != std::string_view::npos) {
      const auto v4 = parseIpv4(group);
      if (!v4) return false;
      out.push_back(static_cast<unsigned>((*v4)[0] << 8 | (*v4)[1]));
      out.push_back(static_cast<unsigned>((*v4)[2] << 8 | (*v4)[3]));
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (const char c : group) {
      const char l = static_cast<char>(c | 0x20);
      if (c >= '0' && c <= '9') value = value * 16 + static_cast<unsigned>(c - '0');
      else if (l >= 'a' && l <= 'f') value = value * 16 + static_cast<unsigned>(l - 'a' + 10);
      else return false;
    }
    out.push_back(value);
    if (colon == std::string_view::npos) return true;
    text.remove_prefix(colon + 1);
  }
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x | 0x20) == (y | 0x20);
         });
}

}  // namespace

bool IpAddress::isLoopback() const {
  static constexpr std::array<std::uint8_t, 12> mapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::equal(mapped.begin(), mapped.end(), bytes.begin())) return bytes[12] == 127;
  return std::all_of(bytes.begin(), bytes.end() - 1, [](std::uint8_t b) { return b == 0; }) && bytes[15] == 1;
}

std::optional<IpAddress> parseIpAddress(std::string_view text) {
  IpAddress address;
  if (text.find(':') == std::string_view::npos) {
    const auto v4 = parseIpv4(text);
    if (!v4) return std::nullopt;
    address.bytes[10] = address.bytes[11] = 0xFF;
    std::copy(v4->begin(), v4->end(), address.bytes.begin() + 12);
    return address;
  }
  text = text.substr(0, text.find('%'));
  std::vector<unsigned> head, tail;
  const std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!parseGroups(text, head, true) || head.size() != 8) return std::nullopt;
  } else {
    if (text.find("::", gap + 1) != std::string_view::npos) return std::nullopt;
    if (!parseGroups(text.substr(0, gap), head, false) || !parseGroups(text.substr(gap + 2), tail, true) ||
        head.size() + tail.size() > 7)
      return std::nullopt;
  }
  head.resize(8 - tail.size(), 0);
  head.insert(head.end(), tail.begin(), tail.end());
  for (std::size_t i = 0; i < 8; ++i) {
    address.bytes[2 * i] = static_cast<std::uint8_t>(head[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<std::uint8_t>(head[i]);
  }
  return address;
}

OwnAddresses::OwnAddresses(Reader read, Clock nowMs, std::int64_t refreshMs)
    : read_(std::move(read)), nowMs_(std::move(nowMs)), refreshMs_(refreshMs) {}

bool OwnAddresses::contains(const IpAddress& address) {
  if (address.isLoopback()) return true;
  // A list older than refreshMs is read again: an address the computer gave
  // up may belong to another machine by now.
  const std::int64_t now = nowMs_();
  if (!readAt_ || now - *readAt_ >= refreshMs_ || now < *readAt_) {
    readAt_ = now;
    list_ = read_();
  }
  return std::find(list_.begin(), list_.end(), address) != list_.end();
}

bool hostIsThisComputer(std::string_view host, OwnAddresses& own) {
  if (host.empty()) return true;
  std::string_view name = host;
  if (name.front() == '[') {
    const std::size_t close = name.find(']');
    if (close == std::string_view::npos) return false;
    if (close + 1 < name.size() && name[close + 1] != ':') return false;
    name = name.substr(1, close - 1);
    if (name.find(':') == std::string_view::npos) return false;  // only IPv6 goes in brackets
  } else {
    name = name.substr(0, name.find(':'));
    if (equalsNoCase(name, "localhost")) return true;
  }
  const auto address = parseIpAddress(name);
  return address && own.contains(*address);
}

bool ConnectionSlots::take(const IpAddress& peer) {
  const auto found = held_.find(peer);
  const int held = found == held_.end() ? 0 : found->second;
  const int free = limits_.total - open_;
  if (free <= 0 || held >= limits_.perPeer || (held > 0 && free <= limits_.reserved)) return false;
  ++held_[peer];
  ++open_;
  return true;
}

void ConnectionSlots::give(const IpAddress& peer) {
  const auto found = held_.find(peer);
  if (found == held_.end()) return;
  if (--found->second == 0) held_.erase(found);
  --open_;
}

}  // namespace kelvane
