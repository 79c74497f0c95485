#include "alpaca/shared_udp.h"

#include <cstring>

#ifndef _WIN32  // Qt's own bind shares a port on Windows
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvane {

std::intptr_t openSharedUdpSocket(bool ipv6, std::uint16_t port, std::string& error) {
  const int s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
  if (s < 0) {
    error = std::strerror(errno);
    return -1;
  }
  fcntl(s, F_SETFD, FD_CLOEXEC);
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
  if (ipv6) setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  sockaddr_storage address{};
  socklen_t length = 0;
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_any;
    a->sin6_port = htons(port);
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_ANY);
    a->sin_port = htons(port);
    length = sizeof *a;
  }
  if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    error = std::strerror(errno);
    close(s);
    return -1;
  }
  return s;
}

}  // namespace kelvane
#endif
