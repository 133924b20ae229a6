// The socket library start-up, the machine's host name, and the TCP
// connection to the SMTP server.
#pragma once

#include "platform/net.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace smtp {

inline constexpr const char *kNoWinsock = "No winsock found of correct version\n";
inline constexpr const char *kOtherWinsock =
    "No winsock found of correct version, trying to continue\n";
inline constexpr const char *kNoHostName = "tcp: Can't get host name\n";

/// Starts the socket library (version 1.1), printing one of its messages when
/// that fails or gives another version. The run goes on either way.
void start_sockets();

/// The machine's host name, asked for afresh; on failure prints a message and
/// returns the name of the last successful call (empty if none).
std::string local_host_name();

/// A numeric IPv4 address: four non-empty runs of digits joined by three
/// dots, with an optional "[" in front and an optional "]" at the end.
bool is_dotted_quad(std::string_view text);

/// Lower-cases `host` in place (A-Z only), then connects to it: a dotted quad
/// numerically (without its brackets), anything else by name. Returns the
/// connected socket, or kInvalidSocket; platform::last_socket_error() holds
/// the reason saved after creating and after connecting the socket. Stores
/// the address connected to (network byte order) in `address`, if given.
platform::Socket open_smtp_connection(std::string &host, int port,
                                      std::uint32_t *address = nullptr);

/// Whether `address` (network byte order) is one of the machine's own,
/// 127.0.0.0/8.
bool is_loopback(std::uint32_t address);

/// Why no connection was made, for messages and replies: "Could not connect
/// to SMTP server HOST PORT () REASON", with HOST lower-cased as the
/// connection tried it, PORT whole, and the socket error `error` in words.
std::string connection_failure(std::string host, int port, int error);

} // namespace smtp
