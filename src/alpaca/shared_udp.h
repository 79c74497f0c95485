#pragma once
// A UDP socket bound to a port that other programs on the machine may bind as
// well: every Alpaca server listens for discovery on the same port. Qt's own
// sharing flags set only SO_REUSEADDR, which on Linux does not let two
// unicast listeners share a port; this sets SO_REUSEPORT too. (On Windows
// SO_REUSEADDR alone shares it, and Qt's bind with ReuseAddressHint sets it.)
#include <cstdint>
#include <string>

namespace kelvane {

#ifndef _WIN32
// The native handle of a socket bound to the wildcard address of the family
// at port (IPv6 sockets take IPv6 only), or -1 with the reason in error.
std::intptr_t openSharedUdpSocket(bool ipv6, std::uint16_t port, std::string& error);
#endif

}  // namespace kelvane
