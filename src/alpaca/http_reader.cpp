#include "alpaca/http_reader.h"

#include <algorithm>

namespace kelvane {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x | 0x20) == (y | 0x20);
         });
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool isTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool visibleText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F;
  });
}

}  // namespace

HttpRequestReader::Result HttpRequestReader::fail(int status) {
  failedStatus_ = status;
  buffer_.clear();
  return Result::Failed;
}

std::size_t HttpRequestReader::room() const {
  const std::size_t limit = kMaxHttpHead + kMaxHttpBody + 4;
  return buffer_.size() >= limit ? 0 : limit - buffer_.size();
}

HttpRequestReader::Result HttpRequestReader::next(HttpRequest& request) {
  if (failedStatus_ != 0) return Result::Failed;
  // Blank lines between requests are tolerated, as HTTP/1.1 asks.
  std::size_t start = 0;
  while (start + 1 < buffer_.size() && buffer_[start] == '\r' && buffer_[start + 1] == '\n') start += 2;
  // Dropped at once, so that a connection holding only them counts as idle.
  buffer_.erase(0, start);
  start = 0;
  const std::size_t headEnd = buffer_.find("\r\n\r\n", start);
  if (headEnd == std::string::npos) {
    if (buffer_.size() - start > kMaxHttpHead) return fail(431);
    return Result::NeedMore;
  }
  if (headEnd - start > kMaxHttpHead) return fail(431);
  const std::string_view head(buffer_.data() + start, headEnd - start);

  // Request line: METHOD SP origin-form SP HTTP/1.x
  const std::size_t lineEnd = head.find("\r\n");
  const std::string_view line = head.substr(0, lineEnd);
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) return fail(400);
  const std::string_view method = line.substr(0, sp1);
  const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = line.substr(sp2 + 1);
  if (method.empty() || !std::all_of(method.begin(), method.end(), isTokenChar)) return fail(400);
  if (target.empty() || target.front() != '/' || !visibleText(target)) return fail(400);
  if (version != "HTTP/1.0" && version != "HTTP/1.1")
    return fail(version.substr(0, 5) == "HTTP/" ? 505 : 400);
  const bool http11 = version == "HTTP/1.1";
  bool keepAlive = http11;

  // Headers: only the framing ones matter here.
  bool haveLength = false;
  bool haveHost = false;
  std::string_view host;
  std::size_t length = 0;
  std::size_t pos = lineEnd == std::string_view::npos ? head.size() : lineEnd + 2;
  while (pos < head.size()) {
    std::size_t end = head.find("\r\n", pos);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view field = head.substr(pos, end - pos);
    pos = end + 2;
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos || colon == 0) return fail(400);
    const std::string_view name = field.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), isTokenChar)) return fail(400);  // also folded lines
    const std::string_view value = trimBlanks(field.substr(colon + 1));
    if (value.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) return fail(400);
    if (equalsNoCase(name, "Content-Length")) {
      if (value.empty() || value.size() > 9 ||
          !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return fail(value.size() > 9 ? 413 : 400);
      const std::size_t n = std::stoul(std::string(value));
      if (haveLength && n != length) return fail(400);
      haveLength = true;
      length = n;
    } else if (equalsNoCase(name, "Transfer-Encoding")) {
      return fail(501);  // clients of this server send bodies with a length
    } else if (equalsNoCase(name, "Host")) {
      if (haveHost) return fail(400);  // which one would the request be for?
      haveHost = true;
      host = value;
    } else if (equalsNoCase(name, "Connection")) {
      if (equalsNoCase(value, "close")) keepAlive = false;
      else if (equalsNoCase(value, "keep-alive")) keepAlive = true;
    }
  }
  if (length > kMaxHttpBody) return fail(413);
  // HTTP/1.1 requires the Host header (RFC 9112 section 3.2); 1.0 predates it.
  if (!haveHost && http11) return fail(400);
  const std::size_t bodyStart = headEnd + 4;
  if (buffer_.size() - bodyStart < length) return Result::NeedMore;

  request.method.assign(method);
  const std::size_t question = target.find('?');
  request.path.assign(target.substr(0, question));
  request.query.assign(question == std::string_view::npos ? std::string_view() : target.substr(question + 1));
  request.body.assign(buffer_, bodyStart, length);
  request.host.assign(host);
  request.keepAlive = keepAlive;
  buffer_.erase(0, bodyStart + length);
  return Result::Ready;
}

const char* httpReason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
  }
}

std::string formatHttpResponse(int status, std::string_view contentType, std::string_view body,
                               bool keepAlive) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + httpReason(status) + "\r\n";
  out += "Content-Type: ";
  out += contentType;
  out += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  // Pages of a server that moves hardware are never embedded or cached.
  out += "Cache-Control: no-store\r\nX-Frame-Options: DENY\r\n\r\n";
  out += body;
  return out;
}

}  // namespace kelvane
