// The SMTP client's steps beneath both modes: one lock-step dialogue with the
// server (RFC 5321 3, 4.1), each command sent whole and its reply read whole
// within its time limit (4.5.3.2). Every step returns what happened as a
// value and builds no text for anyone: fault_text.h has the words, and the
// callers, the piped run's delivery and the "-bs" relay, alone decide what
// to say, each by its own policy.
#pragma once

#include "io/block_reader.h"
#include "platform/stream.h"
#include "platform/tls.h"
#include "platform/tls_facts.h"
#include "smtp/reply.h"
#include "smtp/time_limits.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace smtp {

/// A connection to the server, or why there is none.
struct Connected {
  std::unique_ptr<platform::Stream> stream; ///< nullptr when no connection was made
  std::string address; ///< the address connected to, 4 or 16 bytes in network order
  int error = 0;       ///< without a stream: the Windows Sockets code
};

/// Makes the connection to `host` (which it may rewrite into the name it
/// used) on `port`, trying each of its addresses in turn.
using Connect = std::function<Connected(std::string &host, int port)>;

/// The TCP connection of open_smtp_connection, within the connect limits
/// of TimeLimits.
Connected connect_by_tcp(std::string &host, int port);

/// The same within `limits`' connect limits.
Connected connect_within(std::string &host, int port, const TimeLimits &limits);

struct Client {
  Connect connect = connect_by_tcp;         ///< a test hands a connection in memory
  std::unique_ptr<platform::Stream> stream; ///< nullptr while there is no connection
  TimeLimits limits;
  std::string pending; ///< bytes received after the last whole reply, kept for the next
  std::string server;  ///< the host as connected to, lower-cased: the name TLS checks
  int port = 0;        ///< the port as configured
  std::string address; ///< the address connected to, 4 or 16 bytes in network order
  std::optional<platform::TlsFacts> tls; ///< once TLS is up on this connection, what it is
  /// Every form of the login's secrets as they crossed the connection:
  /// hidden in every reply read from then on (hide_secrets_in_reply).
  std::vector<std::string> secrets;
};

/// Why a step got no reply to judge, or why the dialogue cannot go on.
enum class Fault {
  none,
  no_connection,     ///< the server could not be reached; `error` is the Windows Sockets code
  no_reply,          ///< no whole reply in time: the server closed, the connection failed or
                     ///< the time ran out
  unasked_reply,     ///< the server had sent a reply nobody asked for (`detail` is its first
                     ///< line); QUIT went instead of the step's command
  send_failed,       ///< the message text could not be sent whole
  unreadable_text,   ///< the spool file (`detail` names it) could not be read; `error` is the
                     ///< errno
  ehlo_refused,      ///< the server refused EHLO, which submission cannot do without (`reply`)
  tls_failed,        ///< TLS could not be started or trusted; `detail` says why
  no_starttls,       ///< STARTTLS was asked for and the server does not offer it
  login_without_tls, ///< a login was asked for with no TLS, to a server not on loopback
  no_login_method,   ///< no mechanism to log in with; `detail` is the AUTH line as offered
  login_refused,     ///< the server refused the login (`reply`)
  unusable_settings, ///< quillrun.ini cannot be used (`detail` says why): nothing may go
  no_secret,         ///< the login's secret cannot be had (`detail` says why): nothing may go
};

struct Outcome {
  Fault fault = Fault::none;
  Reply reply;        ///< the server's whole reply, when there is no fault, or its refusal
  std::string detail; ///< with the faults that say so above
  int error = 0;      ///< with Fault::no_connection and Fault::unreadable_text
};

/// Connects to `host` on `port` by `client.connect`, starts TLS first when
/// `implicit_tls` (checked against `ca_file`, see start_tls), and reads the
/// greeting. Debug entries: "Open socket to (HOST:PORT)", "Socket opened ",
/// "Waiting for welcome". Faults: no_connection, tls_failed, no_reply. On a
/// fault the client has no connection.
Outcome open_session(Client &client, const std::string &host, int port, bool implicit_tls,
                     const platform::CaFile &ca_file);

/// Runs the TLS handshake over the connection and verifies the server as
/// `client.server` (platform::start_tls; `ca_file` naming none: the
/// system's roots), keeping what was agreed on in `client.tls`. Fault:
/// tls_failed, after which there is no connection.
Outcome start_tls(Client &client, const platform::CaFile &ca_file);

/// Bytes the server sent that nothing asked for: left over after the last
/// reply, or waiting now (looked at without waiting), the secret hidden as
/// in a reply, and logged. A closed or failed connection is left to the
/// next command to find.
std::string take_unasked_bytes(Client &client);

/// Sends `command` (which ends with CR LF) and reads its reply within
/// `limit`, unless the server has already sent bytes that answer nothing
/// (take_unasked_bytes): then QUIT goes instead and the command is never
/// sent, since taking them for its reply would put every later reply one
/// command behind. The debug log shows `shown` for the command when given
/// (a login's secrets). Faults: unasked_reply, no_reply.
Outcome command(Client &client, std::string_view command, std::chrono::milliseconds limit,
                std::string_view shown = {});

/// After the server's 354: the spool file's text (named `text_name`) in its
/// wire form, then "." and the reply to it. Debug entries "Sending data" and
/// "Sending terminating dot". Faults: unasked_reply (nothing of the text
/// sent), send_failed, unreadable_text (no "." sent: the server drops the
/// partial text), no_reply.
Outcome send_text(Client &client, io::BlockReader &text, const std::string &text_name);

/// Sends QUIT, waits for its reply within the QUIT limit, and closes the
/// connection. Nothing when there is none.
void quit(Client &client);

/// The next whole reply, waiting at most `limit` for it, with the secret
/// hidden (hide_secrets_in_reply); logged so, up to what the reply keeps. When the
/// server closes after part of a reply, that part is the reply. Nothing
/// when no byte came, the connection failed, or the time ran out (what came
/// of it is logged).
std::optional<Reply> read_reply(Client &client, std::chrono::milliseconds limit);

} // namespace smtp
