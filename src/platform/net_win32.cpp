#include "platform/net.h"
#include "platform/socket_address.h"

// Windows Sockets 2 headers for inet_pton and getaddrinfo alone (ws2_32,
// which every Windows has); the library started is still version 1.1.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

namespace platform {
namespace {

SOCKET native(Socket socket) { return static_cast<SOCKET>(socket); }

// One select() on one socket, for reading or for writing, with the socket
// in the exception set too: select's count (SOCKET_ERROR, 0 when the time
// ran out), and whether the socket came back in the exception set.
struct Readiness {
  int count;
  bool failed;
};

Readiness wait_on(Socket socket, bool writing, int timeout_ms) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(native(socket), &wanted);
  FD_SET(native(socket), &failed);
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int count = writing ? select(0, nullptr, &wanted, &failed, &limit)
                            : select(0, &wanted, nullptr, &failed, &limit);
  return {count, count > 0 && FD_ISSET(native(socket), &failed) != 0};
}

// Waits until the socket is readable or writable; true when ready, false when
// the time ran out. An error counts as ready: the call that follows reports it.
bool ready_for(Socket socket, bool writing, int timeout_ms) {
  return wait_on(socket, writing, timeout_ms).count != 0;
}

// The error of a connection begun without blocking, once it has ended or
// `timeout_ms` has passed (WSAETIMEDOUT). Windows Sockets tells a failed
// one in the exception set, a made one in the write set.
int connect_result(Socket socket, int timeout_ms) {
  const Readiness ready = wait_on(socket, true, timeout_ms);
  if (ready.count == SOCKET_ERROR) return WSAGetLastError();
  if (ready.count == 0) return WSAETIMEDOUT;
  if (!ready.failed) return 0;
  int error = 0;
  int length = sizeof error;
  getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length);
  return error;
}

} // namespace

// Version 1.1 is asked for; wVersion is the version the library will use
// (major in the low byte). The caller prints the messages.
SocketStartup start_socket_library() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return {false, false};
  return {true, LOBYTE(data.wVersion) == 1 && HIBYTE(data.wVersion) == 1};
}

std::optional<std::string> host_name(std::size_t max_length) {
  std::string buffer(max_length + 1, '\0');
  if (gethostname(buffer.data(), static_cast<int>(max_length)) != 0) return std::nullopt;
  return std::string(buffer.c_str());
}

std::string address_text(std::string_view bytes) {
  char text[INET6_ADDRSTRLEN];
  const int family = bytes.size() == 4 ? AF_INET : bytes.size() == 16 ? AF_INET6 : AF_UNSPEC;
  return inet_ntop(family, bytes.data(), text, sizeof text) != nullptr ? text : "?";
}

std::string numeric_ipv4(const std::string &text) {
  const unsigned long address = inet_addr(text.c_str());
  return {reinterpret_cast<const char *>(&address), 4};
}

std::optional<std::string> address_bytes(const std::string &text, std::size_t size) {
  unsigned char bytes[16];
  if (inet_pton(size == 16 ? AF_INET6 : AF_INET, text.c_str(), bytes) != 1) return std::nullopt;
  return std::string(reinterpret_cast<const char *>(bytes), size);
}

// getaddrinfo's failures are themselves Windows Sockets codes.
Resolved resolve(const std::string &name) {
  Lookup lookup = look_up(name);
  if (lookup.failed != 0) return {{}, lookup.failed};
  return {std::move(lookup.addresses), 0};
}

Opened connect_stream(std::string_view address, std::uint16_t port, int timeout_ms) {
  const SocketAddress server = socket_address(address, port);
  const SOCKET socket_handle = socket(server.storage.ss_family, SOCK_STREAM, 0);
  if (socket_handle == INVALID_SOCKET) return {kInvalidSocket, WSAGetLastError()};
  const auto made = static_cast<Socket>(socket_handle);
  // Non-blocking from here on: the connection's wait is ours to bound, and
  // Windows Sockets 1.1 has no send time-out, so sends wait in select and
  // then take only what fits, which a non-blocking socket guarantees.
  u_long non_blocking = 1;
  ioctlsocket(socket_handle, static_cast<long>(FIONBIO), &non_blocking);
  int error = 0;
  if (connect(socket_handle, server.get(), static_cast<int>(server.length)) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) error = connect_result(made, timeout_ms);
  }
  if (error != 0) {
    closesocket(socket_handle);
    return {kInvalidSocket, error};
  }
  return {made, 0};
}

Transfer send_some(Socket socket, std::string_view data, int timeout_ms) {
  if (!ready_for(socket, true, timeout_ms)) return {0, true};
  int sent = send(native(socket), data.data(), static_cast<int>(data.size()), 0);
  if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return {0, false};
  return {sent, false};
}

Transfer receive_some(Socket socket, char *buffer, std::size_t capacity, int timeout_ms) {
  if (!ready_for(socket, false, timeout_ms)) return {0, true};
  return {recv(native(socket), buffer, static_cast<int>(capacity), 0), false};
}

void send_without_delay(Socket socket) {
  BOOL on = TRUE;
  setsockopt(native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
             sizeof on);
}

void close_socket(Socket socket) { closesocket(native(socket)); }

} // namespace platform
