// Whatever a network client sends goes through the HTTP framing and the
// Alpaca protocol: neither may crash, the framing must stay within its
// bounds, and a refused request must change nothing on the panel.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "alpaca/alpaca_protocol.h"
#include "alpaca/http_reader.h"
#include "alpaca/peer_policy.h"

using namespace kelvane;

namespace {
void require(bool condition) {
  if (!condition) std::abort();
}

struct Panel : AlpacaCalibrator {
  bool on = true;
  int changes = 0;
  std::int32_t last = 0;
  bool connected() const override { return on; }
  AlpacaFailure connect() override { return on = true, AlpacaFailure{}; }
  void disconnect() override { on = false; }
  CalibratorState state() const override { return CalibratorState::Ready; }
  std::int32_t brightness() const override { return last; }
  AlpacaFailure calibratorOn(std::int32_t v) override {
    require(v >= 0 && v <= 1023);
    ++changes;
    last = v;
    return {};
  }
  AlpacaFailure calibratorOff() override { return ++changes, AlpacaFailure{}; }
  AlpacaFailure failure() const override { return {}; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // The raw bytes as a stream, fed in two pieces.
  HttpRequestReader reader;
  reader.append(input.substr(0, size / 2));
  HttpRequest request;
  while (reader.next(request) == HttpRequestReader::Result::Ready) require(request.body.size() <= kMaxHttpBody);
  reader.append(input.substr(size / 2));
  while (reader.next(request) == HttpRequestReader::Result::Ready) require(request.body.size() <= kMaxHttpBody);
  require(reader.buffered() <= kMaxHttpHead + kMaxHttpBody + size);

  // The bytes as a Host header: with no addresses but loopback, only
  // "localhost" and loopback numbers pass.
  OwnAddresses own([] { return std::vector<IpAddress>{}; }, [] { return std::int64_t{0}; });
  if (!input.empty() && hostIsThisComputer(input, own)) {
    const char c = input.front();
    require(c == 'l' || c == 'L' || c == '[' || c == '1');
  }

  // The same bytes as the four fields of a request, split at NUL bytes.
  std::string_view fields[4];
  std::string_view rest = input;
  for (auto& field : fields) {
    const std::size_t cut = rest.find('\0');
    field = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  Panel panel;
  AlpacaService service(panel, "fuzz");
  service.setClock([] { return std::string("2000-01-01T00:00:00Z"); });
  const AlpacaReply reply = service.handle(fields[0], fields[1], fields[2], fields[3]);
  require(reply.status == 200 || (reply.status >= 400 && reply.status < 500));
  if (reply.status != 200 || fields[0] == "GET") require(panel.changes == 0);
  require(reply.body.find('\r') == std::string::npos);
  return 0;
}
