// The socket library start-up, the machine's host name, and the TCP
// connection to the SMTP server: each of its addresses tried in turn (RFC
// 5321 5.1).
#pragma once

#include "platform/net.h"
#include "smtp/time_limits.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

/// A numeric IPv6 address, in brackets or bare: its 16 bytes in network
/// order; nothing for any other text.
std::optional<std::string> ipv6_literal(std::string_view host);

/// A TCP connection to the server, or why there is none.
struct TcpConnection {
  platform::Socket socket = platform::kInvalidSocket;
  std::string address; ///< the address connected to, 4 or 16 bytes in network order
  int error = 0;       ///< without a socket: the Windows Sockets code of the last failure
};

/// Tries `addresses` in their order on `port` until one takes the
/// connection, each for at most `limits.connect` and all of them within
/// `limits.connect_in_all`. When there are several, each address that
/// fails is noted in the debug log: "Could not connect to ADDRESS () REASON".
TcpConnection connect_in_turn(const std::vector<std::string> &addresses, int port,
                              const TimeLimits &limits);

/// Lower-cases `host` in place (A-Z only), then connects to the first of its
/// addresses that takes the connection (connect_in_turn): a dotted quad's
/// numerically (without its brackets), an IPv6 literal's numerically, any
/// other name's as the resolver gives them. When the name does not
/// resolve, `error` is the resolver's: 11001 no such name, 11002 no answer
/// for now.
TcpConnection open_smtp_connection(std::string &host, int port, const TimeLimits &limits = {});

/// Whether `address` (4 or 16 bytes, network order) is one of the machine's
/// own: 127.0.0.0/8 or ::1.
bool is_loopback(std::string_view address);

/// Why no connection was made, for messages and replies: "Could not connect
/// to SMTP server HOST PORT () REASON", with HOST lower-cased as the
/// connection tried it, PORT whole, and the socket error `error` in words.
std::string connection_failure(std::string host, int port, int error);

} // namespace smtp
