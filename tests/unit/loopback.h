// A TCP listener on a free loopback port, on both platforms, for the tests
// that drive the socket layer against a peer they control.
#pragma once

#include "platform/net.h"
#include "smtp/client.h"

#include <string_view>

#ifdef _WIN32
#include <winsock.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace unit {

#ifdef _WIN32
using NativeSocket = SOCKET;
inline constexpr NativeSocket kNoSocket = INVALID_SOCKET;
inline constexpr int kNoSignal = 0;
inline void close_native(NativeSocket s) { closesocket(s); }
using AddressLength = int;
using Length = int;
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
inline constexpr int kNoSignal = MSG_NOSIGNAL;
inline void close_native(NativeSocket s) { close(s); }
using AddressLength = socklen_t;
using Length = std::size_t;
#endif

/// Bound to 127.0.0.1 and a port of the system's choosing; listening when
/// asked, with room for `backlog` connections not yet accepted. `port` is 0
/// when that failed.
struct LoopbackListener {
  NativeSocket fd;
  int port = 0;
  explicit LoopbackListener(bool listening = true, int backlog = 1) {
    platform::start_socket_library();
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    AddressLength length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) return;
    if (listening && listen(fd, backlog) != 0) return;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~LoopbackListener() { close_native(fd); }
  LoopbackListener(const LoopbackListener &) = delete;
  LoopbackListener &operator=(const LoopbackListener &) = delete;
};

/// A connection made with the socket layer, and the listener's end of it.
struct LoopbackConnection {
  LoopbackListener listener;
  platform::Socket client = platform::kInvalidSocket;
  NativeSocket server = kNoSocket;
  LoopbackConnection() {
    client = platform::connect_stream(platform::numeric_ipv4("127.0.0.1"),
                                      static_cast<std::uint16_t>(listener.port), 5000)
                 .socket;
    if (client != platform::kInvalidSocket) server = accept(listener.fd, nullptr, nullptr);
  }
  ~LoopbackConnection() {
    if (client != platform::kInvalidSocket) platform::close_socket(client);
    if (server != kNoSocket) close_native(server);
  }
  LoopbackConnection(const LoopbackConnection &) = delete;
  LoopbackConnection &operator=(const LoopbackConnection &) = delete;

  /// The server's end closes: the client reads the end of the stream.
  void server_closes() {
    close_native(server);
    server = kNoSocket;
  }

  /// An SMTP client on the client end, whose stream now owns (and closes) it.
  smtp::Client smtp_client() {
    smtp::Client smtp_client;
    smtp_client.stream = platform::socket_stream(client);
    client = platform::kInvalidSocket;
    return smtp_client;
  }

  /// The server writes `bytes` to the client, all of them.
  bool server_sends(std::string_view bytes) const {
    while (!bytes.empty()) {
      auto sent = send(server, bytes.data(), static_cast<Length>(bytes.size()), kNoSignal);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }
};

/// A listener that never answers a connection, as a host that drops every
/// packet: its queue (backlog 0, which Linux takes as room for one) holds a
/// connection never accepted, and a SYN to a full queue is dropped.
struct SilentListener {
  LoopbackListener listener{true, 0};
  platform::Socket queued =
      platform::connect_stream(platform::numeric_ipv4("127.0.0.1"),
                               static_cast<std::uint16_t>(listener.port), 5000)
          .socket;
  SilentListener() = default;
  ~SilentListener() {
    if (queued != platform::kInvalidSocket) platform::close_socket(queued);
  }
  SilentListener(const SilentListener &) = delete;
  SilentListener &operator=(const SilentListener &) = delete;
};

} // namespace unit
