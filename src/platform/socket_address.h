// Socket addresses as both socket layers build and read them: Windows
// Sockets 2 and POSIX share the BSD types (addrinfo, sockaddr_in,
// sockaddr_in6), so net_posix.cpp and net_win32.cpp take them from here.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Lookup {
  std::vector<std::string> addresses; ///< 4 or 16 bytes each, network order, the resolver's order
  int failed = 0; ///< getaddrinfo's result when it found nothing, for the layer to map
};

/// The IPv4 and IPv6 stream addresses getaddrinfo gives for `name`.
inline Lookup look_up(const std::string &name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  Lookup lookup;
  lookup.failed = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (lookup.failed != 0) return lookup;
  std::vector<std::string> &addresses = lookup.addresses;
  for (const addrinfo *entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET) {
      const in_addr &address = reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr;
      addresses.emplace_back(reinterpret_cast<const char *>(&address), sizeof address);
    } else if (entry->ai_family == AF_INET6) {
      const in6_addr &address = reinterpret_cast<const sockaddr_in6 *>(entry->ai_addr)->sin6_addr;
      addresses.emplace_back(reinterpret_cast<const char *>(&address), sizeof address);
    }
  }
  freeaddrinfo(found);
  return lookup;
}

struct SocketAddress {
  sockaddr_storage storage{};
  int length = 0; ///< of the sockaddr_in or sockaddr_in6 in `storage`

  const sockaddr *get() const { return reinterpret_cast<const sockaddr *>(&storage); }
};

/// `address` (16 bytes: IPv6, else IPv4's 4) with `port`, for connect.
inline SocketAddress socket_address(std::string_view address, std::uint16_t port) {
  SocketAddress made;
  if (address.size() == 16) {
    auto &ipv6 = reinterpret_cast<sockaddr_in6 &>(made.storage);
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(port);
    address.copy(reinterpret_cast<char *>(&ipv6.sin6_addr), sizeof ipv6.sin6_addr);
    made.length = sizeof ipv6;
  } else {
    auto &ipv4 = reinterpret_cast<sockaddr_in &>(made.storage);
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(port);
    address.copy(reinterpret_cast<char *>(&ipv4.sin_addr), sizeof ipv4.sin_addr);
    made.length = sizeof ipv4;
  }
  return made;
}

} // namespace platform
