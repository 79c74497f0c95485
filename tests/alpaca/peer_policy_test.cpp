// Who may use the Alpaca server: addresses, Host names and connection slots.
#include <gtest/gtest.h>

#include "alpaca/peer_policy.h"

namespace kelvane {
namespace {

IpAddress ip(const char* text) { return parseIpAddress(text).value(); }

TEST(PeerPolicy, AddressesParseToOneForm) {
  EXPECT_EQ(ip("192.0.2.7"), ip("::ffff:192.0.2.7"));
  EXPECT_EQ(ip("::FFFF:c000:0207"), ip("192.0.2.7"));
  EXPECT_EQ(ip("fe80::1%eth0"), ip("fe80:0:0:0:0:0:0:1"));
  EXPECT_EQ(ip("::").bytes, IpAddress{}.bytes);
  for (const char* loop : {"127.0.0.1", "127.0.0.2", "::1", "::ffff:127.9.9.9"}) EXPECT_TRUE(ip(loop).isLoopback()) << loop;
  for (const char* other : {"128.0.0.1", "::2", "::", "192.0.2.7"}) EXPECT_FALSE(ip(other).isLoopback()) << other;
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.0.0.1", "1..2.3", "a.b.c.d", "localhost", "1:2:3:4:5:6:7",
                          "1:2:3:4:5:6:7:8:9", "1::2::3", "12345::", ":1:2:3:4:5:6:7", "1:2:3:4:5:6:7::8", "::g"})
    EXPECT_FALSE(parseIpAddress(bad)) << bad;
}

TEST(PeerPolicy, ThisComputerByNumberOrAsLocalhost) {
  std::int64_t now = 0;
  int reads = 0;
  OwnAddresses own([&] { return ++reads, std::vector<IpAddress>{ip("192.0.2.7"), ip("fe80::1")}; },
                   [&] { return now; });
  for (const char* host : {"", "localhost", "LOCALHOST:11111", "127.0.0.1", "127.0.0.2:80", "[::1]:11111",
                           "192.0.2.7:11111", "[fe80::1%25eth0]:11111", "[::ffff:192.0.2.7]"})
    EXPECT_TRUE(hostIsThisComputer(host, own)) << host;
  // Names that may resolve anywhere, and the addresses of others.
  for (const char* host : {"evil.example", "127.0.0.1.evil.example", "[::1]x", "[::1", "[127.0.0.1]", "192.0.2.8",
                           "0.0.0.0:11111", "[::]"})
    EXPECT_FALSE(hostIsThisComputer(host, own)) << host;
  EXPECT_EQ(reads, 1);  // loopback needs no lookup; strangers within a second share one
  now = 1000;
  EXPECT_FALSE(own.contains(ip("192.0.2.8")));
  EXPECT_EQ(reads, 2);
}

TEST(PeerPolicy, SlotsKeepAShareForPeersWithoutOne) {
  ConnectionSlots slots({6, 3, 2});
  const IpAddress a = ip("192.0.2.1"), b = ip("192.0.2.2"), c = ip("192.0.2.3"), d = ip("192.0.2.4");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(slots.take(a)) << i;
  EXPECT_FALSE(slots.take(a));  // its own cap
  EXPECT_TRUE(slots.take(b));
  EXPECT_FALSE(slots.take(b));  // only two slots left: kept for newcomers
  EXPECT_TRUE(slots.take(c));
  EXPECT_TRUE(slots.take(d));
  EXPECT_FALSE(slots.take(ip("192.0.2.5")));  // all taken
  slots.give(a);
  slots.give(a);
  EXPECT_EQ(slots.open(), 4);
  EXPECT_TRUE(slots.take(ip("192.0.2.5")));
  EXPECT_FALSE(slots.take(a));
}

}  // namespace
}  // namespace kelvane
