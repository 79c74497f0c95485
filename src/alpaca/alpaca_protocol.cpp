#include "alpaca/alpaca_protocol.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

#include "device/protocol.h"

namespace kelvane {

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kDevicePrefix = "/api/v1/covercalibrator/0/";

constexpr const char* kVersion = KELVANE_VERSION;

AlpacaReply plain(int status, std::string reason) { return {status, kText, std::move(reason) + "\n"}; }

bool lowerEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

std::string jsonString(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string htmlText(std::string_view s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

const char* boolText(bool b) { return b ? "true" : "false"; }

const char* stateName(CalibratorState s) {
  static constexpr std::array<const char*, 6> names{"NotPresent", "Off",     "NotReady",
                                                    "Ready",      "Unknown", "Error"};
  return names[static_cast<std::size_t>(s)];
}

enum class Access { Get, Put };
struct Member {
  const char* name;
  Access access;
  bool whileDisconnected;  // answers without a connection
};
constexpr std::array<Member, 27> kMembers{{
    {"connected", Access::Get, true},          {"connecting", Access::Get, true},
    {"description", Access::Get, true},        {"driverinfo", Access::Get, true},
    {"driverversion", Access::Get, true},      {"interfaceversion", Access::Get, true},
    {"name", Access::Get, true},               {"supportedactions", Access::Get, true},
    {"devicestate", Access::Get, false},       {"brightness", Access::Get, false},
    {"maxbrightness", Access::Get, false},     {"calibratorstate", Access::Get, false},
    {"calibratorchanging", Access::Get, false}, {"coverstate", Access::Get, false},
    {"covermoving", Access::Get, false},       {"connected", Access::Put, true},
    {"connect", Access::Put, true},            {"disconnect", Access::Put, true},
    {"action", Access::Put, false},            {"commandblind", Access::Put, false},
    {"commandbool", Access::Put, false},       {"commandstring", Access::Put, false},
    {"calibratoron", Access::Put, false},      {"calibratoroff", Access::Put, false},
    {"opencover", Access::Put, false},         {"closecover", Access::Put, false},
    {"haltcover", Access::Put, false},
}};

}  // namespace

struct AlpacaService::Params {
  std::vector<std::pair<std::string, std::string>> items;
  bool caseSensitive = false;
  std::uint32_t clientTransactionId = 0;
  std::uint32_t clientId = 0;  // 0: none given; such clients count as one

  const std::string* find(std::string_view key) const {
    for (const auto& [k, v] : items)
      if (caseSensitive ? k == key : lowerEquals(k, key)) return &v;
    return nullptr;
  }
  // A key present only in another case: a PUT that names a field wrongly.
  bool miscased(std::string_view key) const {
    return std::any_of(items.begin(), items.end(),
                       [&](const auto& kv) { return kv.first != key && lowerEquals(kv.first, key); });
  }
};

std::optional<std::int64_t> parseAlpacaInteger(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  // Ten digits hold every 32-bit value; longer strings are out of any range.
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+' && plusIsSpace) {
      out += ' ';
    } else if (c == '%') {
      const auto hex = [](char h) -> int {
        if (h >= '0' && h <= '9') return h - '0';
        if (h >= 'a' && h <= 'f') return h - 'a' + 10;
        if (h >= 'A' && h <= 'F') return h - 'A' + 10;
        return -1;
      };
      if (i + 2 >= text.size()) return std::nullopt;
      const int hi = hex(text[i + 1]);
      const int lo = hex(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string boundedText(std::string_view text, std::size_t maxLength) {
  std::string out;
  for (const char c : text.substr(0, maxLength)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u >= 0x7F) ? '?' : c;  // ASCII only: valid in any log and in JSON
  }
  if (text.size() > maxLength) out += "...";
  return out;
}

std::string makeUniqueId(const std::function<std::uint32_t()>& random32) {
  std::array<std::uint8_t, 16> b{};
  for (std::size_t i = 0; i < b.size(); i += 4) {
    const std::uint32_t r = random32();
    for (std::size_t k = 0; k < 4; ++k) b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
  std::string out;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", b[i]);
    out += hex;
  }
  return out;
}

std::string iso8601Utc() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::optional<std::string> discoveryReply(std::string_view datagram, std::uint16_t port) {
  // The request is exactly these 16 bytes; longer datagrams are tolerated
  // only as the protocol's version suffix grows, so look at the prefix.
  if (datagram.size() < 16 || datagram.substr(0, 15) != "alpacadiscovery" || datagram[15] < '1' ||
      datagram[15] > '9')
    return std::nullopt;
  return "{\"AlpacaPort\":" + std::to_string(port) + "}";
}

AlpacaService::AlpacaService(AlpacaCalibrator& device, std::string uniqueId)
    : device_(device), uniqueId_(std::move(uniqueId)), utcNow_(iso8601Utc) {}

std::string AlpacaService::json(const Params& params, const std::string* value,
                                const AlpacaFailure& failure) {
  std::string out = "{";
  if (value && !failure) out += "\"Value\":" + *value + ",";
  out += "\"ClientTransactionID\":" + std::to_string(params.clientTransactionId) +
         ",\"ServerTransactionID\":" + std::to_string(++serverTransactionId_) +
         ",\"ErrorNumber\":" + std::to_string(failure.number) +
         ",\"ErrorMessage\":" + jsonString(failure.message) + "}";
  return out;
}

AlpacaReply AlpacaService::handle(std::string_view method, std::string_view path,
                                  std::string_view query, std::string_view body) {
  const bool put = method == "PUT";
  if (!put && method != "GET") return plain(405, "Only GET and PUT are served");
  Params params;
  params.caseSensitive = put;
  // A PUT carries its parameters in the form body, a GET in the query.
  const std::string_view encoded = put ? body : query;
  for (std::size_t pos = 0; pos <= encoded.size();) {
    std::size_t end = encoded.find('&', pos);
    if (end == std::string_view::npos) end = encoded.size();
    const std::string_view item = encoded.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    auto key = percentDecode(item.substr(0, eq), true);
    auto value = percentDecode(eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1), true);
    if (!key || !value) return plain(400, "Malformed parameter encoding");
    params.items.emplace_back(std::move(*key), std::move(*value));
  }
  // An invalid or missing ID is taken as 0, never refused.
  const auto id = [&](const char* key) {
    const std::string* text = params.find(key);
    const auto n = text ? parseAlpacaInteger(*text) : std::nullopt;
    return n && *n > 0 && *n <= 0xFFFFFFFFLL ? static_cast<std::uint32_t>(*n) : 0u;
  };
  params.clientTransactionId = id("ClientTransactionID");
  params.clientId = id("ClientID");

  if (path.substr(0, std::char_traits<char>::length(kDevicePrefix)) == kDevicePrefix)
    return device(method, path.substr(std::char_traits<char>::length(kDevicePrefix)), params);
  if (path == "/setup" || path == "/setup/v1/covercalibrator/0/setup") {
    if (put) return plain(405, "The setup pages only show the state");
    return {200, kHtml, setupPage()};
  }
  if (path.substr(0, 12) == "/management/") {
    if (put) return plain(405, "The management API is read only");
    return management(path, params);
  }
  return plain(400, "Unknown path: " + boundedText(path));
}

AlpacaReply AlpacaService::management(std::string_view path, const Params& params) {
  std::string value;
  if (path == "/management/apiversions") {
    value = "[1]";
  } else if (path == "/management/v1/description") {
    value = "{\"ServerName\":\"Kelvane\",\"Manufacturer\":\"Lumetra\",\"ManufacturerVersion\":" +
            jsonString(kVersion) + ",\"Location\":" + jsonString(location_) + "}";
  } else if (path == "/management/v1/configureddevices") {
    value = "[{\"DeviceName\":\"Kelvane flat panel\",\"DeviceType\":\"CoverCalibrator\","
            "\"DeviceNumber\":0,\"UniqueID\":" + jsonString(uniqueId_) + "}]";
  } else {
    return plain(400, "Unknown path: " + boundedText(path));
  }
  return {200, kJson, json(params, &value, {})};
}

std::string AlpacaService::setupPage() const {
  const bool connected = device_.connected();
  std::string state = "not connected";
  if (connected) {
    const CalibratorState s = device_.state();
    state = std::string(stateName(s)) + ", brightness " + std::to_string(device_.brightness());
    if (s == CalibratorState::Error) state += " (" + device_.failure().message + ")";
  }
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Kelvane</title></head><body>\n"
         "<h1>Kelvane flat panel</h1>\n<p>Alpaca CoverCalibrator, device number 0, UniqueID " +
         htmlText(uniqueId_) + "</p>\n<p>Calibrator: " + htmlText(state) +
         "</p>\n<p>Brightness is set by Alpaca clients (CalibratorOn, CalibratorOff) or in the "
         "Kelvane window; this page only shows the state.</p>\n</body></html>\n";
}

AlpacaReply AlpacaService::device(std::string_view method, std::string_view member, const Params& params) {
  const Access access = method == "PUT" ? Access::Put : Access::Get;
  const Member* found = nullptr;
  bool otherMethod = false;
  for (const Member& m : kMembers) {
    if (member != m.name) continue;
    if (m.access == access) found = &m;
    else otherMethod = true;
  }
  if (!found) {
    if (otherMethod) return plain(405, "Wrong method for " + std::string(member));
    return plain(400, "Unknown device, device number or member: " + boundedText(member));
  }

  // Form fields are checked before anything else: a request that names one
  // wrongly is not understood and changes nothing.
  const std::string* field = nullptr;
  const char* needs = access == Access::Put && member == "connected" ? "Connected"
                      : member == "calibratoron"                      ? "Brightness"
                                                                      : nullptr;
  if (needs) {
    field = params.find(needs);
    if (!field) return plain(400, std::string("Missing form field ") + needs +
                                      (params.miscased(needs) ? " (form field names are case-sensitive)" : ""));
  }

  const auto reply = [&](const std::string* value, const AlpacaFailure& failure = {}) {
    return AlpacaReply{200, kJson, json(params, value, failure)};
  };
  const auto fail = [&](int number, std::string message) {
    return reply(nullptr, AlpacaFailure{number, std::move(message)});
  };
  const auto value = [&](std::string v) { return reply(&v); };

  if (!found->whileDisconnected && !device_.connected())
    return fail(alpaca::NotConnected, "Not connected: set Connected to true first");

  if (access == Access::Put) {
    if (member == "connected" || member == "connect" || member == "disconnect") {
      bool on = member == "connect";
      if (field) {
        if (lowerEquals(*field, "true")) on = true;
        else if (!lowerEquals(*field, "false")) return plain(400, "Connected must be true or false");
      }
      // Connected is counted per ClientID, as ASCOM Remote does: the dimmer
      // is released when the last client that connected lets go, and a
      // client that never connected cannot take it from the others.
      if (!on) {
        clients_.erase(params.clientId);
        if (clients_.empty()) device_.disconnect();
        return reply(nullptr);
      }
      const AlpacaFailure failure = device_.connected() ? AlpacaFailure{} : device_.connect();
      if (!failure) clients_.insert(params.clientId);
      return reply(nullptr, failure);
    }
    if (member == "calibratoron") {
      const auto b = parseAlpacaInteger(*field);
      if (!b || *b < 0 || *b > kMaxBrightness)
        return fail(alpaca::InvalidValue, "Brightness must be a whole number from 0 to " +
                                              std::to_string(kMaxBrightness) + ", not \"" +
                                              boundedText(*field, 20) + "\"");
      return reply(nullptr, device_.calibratorOn(static_cast<std::int32_t>(*b)));
    }
    if (member == "calibratoroff") return reply(nullptr, device_.calibratorOff());
    if (member == "action") return fail(alpaca::ActionNotImplemented, "No actions are supported");
    return fail(alpaca::NotImplemented,
                member.substr(0, 7) == "command" ? "Raw commands are not supported"
                                                 : "This panel has no cover");
  }

  if (member == "connected") return value(boolText(device_.connected()));
  if (member == "connecting") return value("false");  // Connect completes before it returns
  if (member == "description") return value(jsonString("Lumetra flat-field light panel (dimmable, no cover)"));
  if (member == "driverinfo")
    return value(jsonString(std::string("Kelvane flat-field panel dimmer, version ") + kVersion));
  if (member == "driverversion")  // ASCOM asks for "n.n" here
    return value(jsonString(std::to_string(KELVANE_VERSION_MAJOR) + "." + std::to_string(KELVANE_VERSION_MINOR)));
  if (member == "interfaceversion") return value("2");
  if (member == "name") return value(jsonString("Kelvane"));
  if (member == "supportedactions") return value("[]");
  if (member == "maxbrightness") return value(std::to_string(kMaxBrightness));
  if (member == "coverstate") return value(std::to_string(static_cast<int>(CalibratorState::NotPresent)));
  if (member == "covermoving") return value("false");

  const CalibratorState state = device_.state();
  if (member == "calibratorstate") return value(std::to_string(static_cast<int>(state)));
  if (member == "calibratorchanging") return value(boolText(state == CalibratorState::NotReady));
  if (member == "brightness") {
    if (state == CalibratorState::Error) return reply(nullptr, device_.failure());
    return value(std::to_string(device_.brightness()));
  }
  // devicestate
  const auto item = [](const char* name, const std::string& v) {
    return std::string("{\"Name\":\"") + name + "\",\"Value\":" + v + "}";
  };
  return value("[" + item("Brightness", std::to_string(device_.brightness())) + "," +
               item("CalibratorState", std::to_string(static_cast<int>(state))) + "," +
               item("CalibratorChanging", boolText(state == CalibratorState::NotReady)) + "," +
               item("CoverState", "0") + "," + item("CoverMoving", "false") + "," +
               item("TimeStamp", jsonString(utcNow_())) + "]");
}

}  // namespace kelvane
