#pragma once
// HTTP/1.1 request framing for the Alpaca server, free of sockets: bytes in,
// whole requests out, with hard bounds so that no client can make the server
// hold more than one request head and one body per connection.
#include <cstddef>
#include <string>
#include <string_view>

namespace kelvane {

inline constexpr std::size_t kMaxHttpHead = 8 * 1024;   // request line and headers
inline constexpr std::size_t kMaxHttpBody = 64 * 1024;

struct HttpRequest {
  std::string method;  // as sent ("GET", "PUT", ...)
  std::string path;    // the target before "?", still percent-encoded
  std::string query;   // after "?", still encoded
  std::string body;
  std::string host;  // the Host header, empty when absent (HTTP/1.0 only)
  bool keepAlive = true;
};

class HttpRequestReader {
 public:
  enum class Result { NeedMore, Ready, Failed };

  // Buffers the bytes; nothing is parsed until next().
  void append(std::string_view bytes) { buffer_.append(bytes); }
  // Takes the next complete request off the buffer. After Failed the
  // connection cannot be framed any more: answer failedStatus() and close.
  Result next(HttpRequest& request);
  int failedStatus() const { return failedStatus_; }
  std::size_t buffered() const { return buffer_.size(); }
  // How much a caller may read into the buffer without going past a bound.
  std::size_t room() const;

 private:
  Result fail(int status);
  std::string buffer_;
  int failedStatus_ = 0;
};

// A complete response with Content-Length and the connection's fate.
std::string formatHttpResponse(int status, std::string_view contentType, std::string_view body,
                               bool keepAlive);
const char* httpReason(int status);

}  // namespace kelvane
