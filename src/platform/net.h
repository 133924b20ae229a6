// The socket layer: the few Windows Sockets services the program uses (those
// of version 1.1, and getaddrinfo of version 2), behind one narrow
// interface. net_win32.cpp calls Winsock itself; net_posix.cpp gives the
// same results on POSIX sockets, with error codes brought to the Windows
// Sockets numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using Socket = std::intptr_t;
inline constexpr Socket kInvalidSocket = -1;

struct SocketStartup {
  bool started = false;     ///< the library started at all
  bool version_1_1 = false; ///< it will use exactly version 1.1
};

/// Starts the socket library with version 1.1 requested. Never shut down.
SocketStartup start_socket_library();

/// The machine's host name, asked for with a buffer of `max_length` bytes;
/// nothing when the library cannot tell it.
std::optional<std::string> host_name(std::size_t max_length);

/// The numeric conversion of a dotted-quad text: its 4 bytes in network
/// order; the all-ones address when the text does not convert (used
/// unchecked).
std::string numeric_ipv4(const std::string &text);

/// The `size` bytes, in network order, of an address written as text in
/// inet_pton's forms: 4 for IPv4, 16 for IPv6; nothing for any other text.
std::optional<std::string> address_bytes(const std::string &text, std::size_t size);

/// The text of an IPv4 or IPv6 address given as its 4 or 16 bytes in
/// network order; "?" for any other size.
std::string address_text(std::string_view bytes);

/// What a name resolves to for a TCP connection.
struct Resolved {
  std::vector<std::string> addresses; ///< 4 (IPv4) or 16 (IPv6) bytes each, in the resolver's order
  int error = 0; ///< with none, why as a Windows Sockets code: 11001 no such name, 11002 try again
};

/// Every IPv6 and IPv4 address of `name` (getaddrinfo, any family), in the
/// order the resolver gives them.
Resolved resolve(const std::string &name);

/// A connection made, or why none was.
struct Opened {
  Socket socket = kInvalidSocket;
  int error = 0; ///< without a socket: the Windows Sockets code (10060 when the time ran out)
};

/// A new stream socket connected to `address` (4 or 16 bytes, network
/// order) on `port`, waiting at most `timeout_ms` milliseconds for the
/// connection, then in the mode send_some and receive_some expect.
Opened connect_stream(std::string_view address, std::uint16_t port, int timeout_ms);

struct Transfer {
  long count = 0;         ///< bytes moved (a receive: 0 when the peer closed); -1 on error
  bool timed_out = false; ///< the socket was not ready within the time given
};

/// Waits at most `timeout_ms` milliseconds for room to send, then sends what
/// of `data` the socket takes at once (never blocking longer). A closed peer
/// is an error, never a signal.
Transfer send_some(Socket socket, std::string_view data, int timeout_ms);

/// One receive of at most `capacity` bytes into `buffer`, waiting at most
/// `timeout_ms` milliseconds for the first byte.
Transfer receive_some(Socket socket, char *buffer, std::size_t capacity, int timeout_ms);

/// Sends small segments at once from now on (TCP_NODELAY).
void send_without_delay(Socket socket);

void close_socket(Socket socket);

} // namespace platform
