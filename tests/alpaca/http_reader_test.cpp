// HTTP framing: what is a request, and where the bounds cut.
#include <gtest/gtest.h>

#include "alpaca/http_reader.h"

namespace kelvane {
namespace {

using R = HttpRequestReader::Result;

TEST(HttpReader, FramesOrRefuses) {
  const std::string big(kMaxHttpHead, 'a');
  const struct { std::string bytes; R result; int status; const char* body; } cases[] = {
      {"GET /a?b=1 HTTP/1.1\r\nHost: x\r\n\r\n", R::Ready, 0, ""},
      {"\r\nPUT /a HTTP/1.1\r\ncontent-length: 3\r\nhost: x\r\n\r\nabcdef", R::Ready, 0, "abc"},
      {"PUT /a HTTP/1.1\r\nContent-Length: 3\r\nHost: x\r\n\r\nab", R::NeedMore, 0, ""},
      {"GET /a HTTP/1.0\r\n\r\n", R::Ready, 0, ""},
      {"GET /a HTTP/1.1\r\n\r\n", R::Failed, 400, ""},
      {"GET /a HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", R::Failed, 400, ""},
      {"GET /a HTTP/1.1\r\nHost: x\r\n", R::NeedMore, 0, ""},
      {"GET /a HTTP/1.1\r\nX: " + big + "\r\n\r\n", R::Failed, 431, ""},
      {"GET /a HTTP/1.1\r\nX: " + big, R::Failed, 431, ""},
      {"PUT /a HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", R::Failed, 413, ""},
      {"PUT /a HTTP/1.1\r\nContent-Length: 99999999999999\r\n\r\n", R::Failed, 413, ""},
      {"PUT /a HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", R::Failed, 400, ""},
      {"PUT /a HTTP/1.1\r\nContent-Length: -1\r\n\r\n", R::Failed, 400, ""},
      {"PUT /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", R::Failed, 501, ""},
      {"GET /a HTTP/2.0\r\n\r\n", R::Failed, 505, ""},
      {"GET  /a HTTP/1.1\r\n\r\n", R::Failed, 400, ""},
      {"GET http://h/a HTTP/1.1\r\n\r\n", R::Failed, 400, ""},
      {"GET /a HTTP/1.1\r\n folded\r\n\r\n", R::Failed, 400, ""},
      {"GET /a HTTP/1.1\r\nNo colon\r\n\r\n", R::Failed, 400, ""},
      {"G(T /a HTTP/1.1\r\n\r\n", R::Failed, 400, ""},
  };
  for (const auto& c : cases) {
    HttpRequestReader reader;
    reader.append(c.bytes);
    HttpRequest request;
    EXPECT_EQ(reader.next(request), c.result) << c.bytes.substr(0, 60);
    if (c.result == R::Failed) { EXPECT_EQ(reader.failedStatus(), c.status) << c.bytes.substr(0, 60); }
    if (c.result == R::Ready) { EXPECT_EQ(request.body, c.body); }
  }
}

TEST(HttpReader, PipelinedRequestsAndConnectionFate) {
  HttpRequestReader reader;
  reader.append("GET /x?q=1 HTTP/1.0\r\n\r\nPUT /y HTTP/1.1\r\nContent-Length: 2\r\nHost: h\r\n"
                "Connection: close\r\n\r\nokGET /z HTTP/1.1\r\nhost:  evil.example:80 \r\n");
  HttpRequest r;
  ASSERT_EQ(reader.next(r), R::Ready);
  EXPECT_EQ(r.method + r.path + "|" + r.query, "GET/x|q=1");
  EXPECT_FALSE(r.keepAlive);
  ASSERT_EQ(reader.next(r), R::Ready);
  EXPECT_EQ(r.method + r.path + r.body, "PUT/yok");
  EXPECT_FALSE(r.keepAlive);
  EXPECT_EQ(reader.next(r), R::NeedMore);
  reader.append("\r\n");
  ASSERT_EQ(reader.next(r), R::Ready);
  EXPECT_TRUE(r.keepAlive);
  EXPECT_EQ(r.host, "evil.example:80");
  EXPECT_EQ(reader.buffered(), 0u);
  reader.append("\r\n\r\n");  // blank lines alone are no request under way
  EXPECT_EQ(reader.next(r), R::NeedMore);
  EXPECT_EQ(reader.buffered(), 0u);
  // The buffer never needs more than one head and one body.
  EXPECT_LE(reader.room(), kMaxHttpHead + kMaxHttpBody + 4);
  EXPECT_EQ(formatHttpResponse(200, "text/plain", "hi", false).substr(0, 17), "HTTP/1.1 200 OK\r\n");
}

}  // namespace
}  // namespace kelvane
