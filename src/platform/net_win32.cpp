#include "platform/net.h"

#include <winsock.h>

namespace platform {
namespace {

// A send blocked for longer than this fails (RFC 5321 4.5.3.2 allows the
// server 3 minutes to take each block of data).
constexpr int kSendLimitMilliseconds = 180 * 1000;

int saved_error = 0;

// The library's own last error code, whether the call failed or not (a
// successful call need not reset it).
void save_error() { saved_error = WSAGetLastError(); }

SOCKET native(Socket socket) { return static_cast<SOCKET>(socket); }

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

std::uint32_t numeric_ipv4(const std::string &text) {
  return static_cast<std::uint32_t>(inet_addr(text.c_str()));
}

std::optional<std::uint32_t> resolve_ipv4(const std::string &name) {
  const hostent *host = gethostbyname(name.c_str());
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
    return std::nullopt;
  }
  return reinterpret_cast<const in_addr *>(host->h_addr_list[0])->s_addr;
}

Socket create_stream_socket() {
  SOCKET socket_handle = socket(AF_INET, SOCK_STREAM, 0);
  save_error();
  return socket_handle == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(socket_handle);
}

bool connect_socket(Socket socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = address;
  int failed = connect(native(socket), reinterpret_cast<const sockaddr *>(&server), sizeof server);
  save_error();
  if (failed != 0) return false;
  // Winsock takes the send time limit as a DWORD of milliseconds.
  DWORD limit = kSendLimitMilliseconds;
  setsockopt(native(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&limit),
             sizeof limit);
  return true;
}

int last_socket_error() { return saved_error; }

long send_bytes(Socket socket, std::string_view data) {
  return send(native(socket), data.data(), static_cast<int>(data.size()), 0);
}

Received receive_bytes(Socket socket, char *buffer, std::size_t capacity, int timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(native(socket), &readable);
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int ready = select(0, &readable, nullptr, nullptr, &limit);
  if (ready == 0) return {0, true};
  if (ready == SOCKET_ERROR) return {-1, false};
  return {recv(native(socket), buffer, static_cast<int>(capacity), 0), false};
}

void send_without_delay(Socket socket) {
  BOOL on = TRUE;
  setsockopt(native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
             sizeof on);
}

void close_socket(Socket socket) { closesocket(native(socket)); }

} // namespace platform
