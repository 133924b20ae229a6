#include "platform/net.h"

// Windows Sockets 2 headers for inet_pton alone; the library started is
// still version 1.1.
#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {
namespace {

int saved_error = 0;

// The library's own last error code, whether the call failed or not (a
// successful call need not reset it).
void save_error() { saved_error = WSAGetLastError(); }

SOCKET native(Socket socket) { return static_cast<SOCKET>(socket); }

// Waits until the socket is readable or writable; true when ready, false when
// the time ran out. An error counts as ready: the call that follows reports it.
bool ready_for(Socket socket, bool writing, int timeout_ms) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(native(socket), &wanted);
  FD_SET(native(socket), &failed);
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int ready = writing ? select(0, nullptr, &wanted, &failed, &limit)
                      : select(0, &wanted, nullptr, &failed, &limit);
  return ready != 0;
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

std::uint32_t numeric_ipv4(const std::string &text) {
  return static_cast<std::uint32_t>(inet_addr(text.c_str()));
}

std::optional<std::string> address_bytes(const std::string &text, std::size_t size) {
  unsigned char bytes[16];
  if (inet_pton(size == 16 ? AF_INET6 : AF_INET, text.c_str(), bytes) != 1) return std::nullopt;
  return std::string(reinterpret_cast<const char *>(bytes), size);
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
  // Windows Sockets 1.1 has no send time-out: sends wait in select and then
  // take only what fits, which a non-blocking socket guarantees.
  u_long non_blocking = 1;
  ioctlsocket(native(socket), static_cast<long>(FIONBIO), &non_blocking);
  return true;
}

int last_socket_error() { return saved_error; }

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
