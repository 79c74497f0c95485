#include "support/chm_index.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace kelvane {

namespace {

std::uint32_t le(std::string_view data, std::size_t at, std::size_t bytes) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < bytes; ++k)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + k])) << (8 * k);
  return value;
}

// A NUL-terminated text starting at `at`, bounded by the data.
std::string cString(std::string_view data, std::size_t at) {
  if (at >= data.size()) return {};
  const std::size_t end = data.find('\0', at);
  return std::string(data.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string decodeEntities(std::string_view text) {
  static const std::pair<std::string_view, char> named[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    for (const auto& [entity, c] : named) {
      if (text.compare(i, entity.size(), entity) == 0) {
        out += c;
        i += entity.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

// The value of attribute `name` in the text of one tag; "" when absent.
std::string attribute(std::string_view tag, std::string_view name) {
  const std::string low = lower(tag);
  for (std::size_t at = low.find(name); at != std::string::npos; at = low.find(name, at + 1)) {
    if (at == 0 || !std::isspace(static_cast<unsigned char>(low[at - 1]))) continue;
    std::size_t k = at + name.size();
    while (k < low.size() && std::isspace(static_cast<unsigned char>(low[k]))) ++k;
    if (k >= low.size() || low[k] != '=') continue;
    ++k;
    while (k < low.size() && std::isspace(static_cast<unsigned char>(low[k]))) ++k;
    if (k >= tag.size()) return {};
    std::size_t end;
    if (tag[k] == '"' || tag[k] == '\'') {
      end = tag.find(tag[k], k + 1);
      ++k;
    } else {
      end = tag.find_first_of(" \t\r\n>", k);
    }
    if (end == std::string_view::npos) end = tag.size();
    return decodeEntities(tag.substr(k, end - k));
  }
  return {};
}

}  // namespace

ChmSystemInfo parseChmSystem(std::string_view data) {
  ChmSystemInfo info;
  for (std::size_t at = 4; at + 4 <= data.size();) {
    const std::uint32_t code = le(data, at, 2);
    const std::size_t length = le(data, at + 2, 2);
    const std::string_view record = data.substr(at + 4, std::min(length, data.size() - at - 4));
    if (code == 0) info.contentsFile = cString(record, 0);
    if (code == 2) info.defaultTopic = cString(record, 0);
    if (code == 3) info.title = cString(record, 0);
    at += 4 + length;
  }
  return info;
}

std::string chmContextTopic(std::string_view ivb, std::string_view strings, std::uint32_t context) {
  if (ivb.size() < 4) return {};
  const std::size_t end = std::min<std::size_t>(ivb.size(), 4 + std::size_t{le(ivb, 0, 4)});
  for (std::size_t at = 4; at + 8 <= end; at += 8)
    if (le(ivb, at, 4) == context) return cString(strings, le(ivb, at + 4, 4));
  return {};
}

std::vector<ChmContentsEntry> parseChmSitemap(std::string_view hhc) {
  std::vector<ChmContentsEntry> entries;
  int depth = 0;
  bool inEntry = false;
  ChmContentsEntry entry;
  for (std::size_t at = hhc.find('<'); at != std::string_view::npos; at = hhc.find('<', at + 1)) {
    const std::size_t close = hhc.find('>', at);
    if (close == std::string_view::npos) break;
    const std::string_view tag = hhc.substr(at + 1, close - at - 1);
    std::string name = lower(tag.substr(0, tag.find_first_of(" \t\r\n")));
    if (name == "ul") {
      ++depth;
    } else if (name == "/ul") {
      depth = std::max(0, depth - 1);
    } else if (name == "object") {
      inEntry = lower(attribute(tag, "type")) == "text/sitemap";
      entry = ChmContentsEntry{{}, {}, std::max(0, depth - 1)};
    } else if (name == "param" && inEntry) {
      const std::string param = lower(attribute(tag, "name"));
      if (param == "name" && entry.name.empty()) entry.name = attribute(tag, "value");
      if (param == "local" && entry.local.empty()) entry.local = attribute(tag, "value");
    } else if (name == "/object" && inEntry) {
      entries.push_back(entry);
      inEntry = false;
    }
    at = close;
  }
  return entries;
}

std::string chmObjectPath(std::string topic, const std::function<bool(const std::string&)>& exists) {
  std::replace(topic.begin(), topic.end(), '\\', '/');
  if (const std::size_t cut = topic.find_first_of("#?"); cut != std::string::npos) topic.resize(cut);
  if (topic.empty()) return {};
  if (topic.front() != '/') topic.insert(topic.begin(), '/');
  for (std::size_t at = 0; at != std::string::npos; at = topic.find('/', at + 1)) {
    const std::string candidate = topic.substr(at);
    if (candidate.size() > 1 && exists(candidate)) return candidate;
  }
  return {};
}

}  // namespace kelvane
