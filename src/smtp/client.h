// The SMTP client beneath both modes: one lock-step dialogue with the server
// (RFC 5321 3, 4.1), each command sent whole and its reply read whole within
// its time limit (4.5.3.2). Every step returns what happened as a value; the
// callers, the piped run's delivery and the "-bs" relay, alone turn it into
// messages or replies, each by its own policy.
#pragma once

#include "io/block_reader.h"
#include "platform/stream.h"
#include "smtp/capabilities.h"
#include "smtp/reply.h"
#include "smtp/submission.h"
#include "smtp/time_limits.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace smtp {

struct Client {
  std::unique_ptr<platform::Stream> stream; ///< nullptr while there is no connection
  TimeLimits limits;
  std::string pending;   ///< bytes received after the last whole reply, kept for the next
  std::string server;    ///< the host as connected to, lower-cased: the name TLS checks
  bool loopback = false; ///< the server's address is the machine's own (127.0.0.0/8)
  Capabilities offered;  ///< what the last EHLO reply offered; nothing after HELO
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
  unreadable_text,   ///< the spool file could not be read; `error` is the errno
  refused,           ///< the server refused EHLO, which submission cannot do without (`reply`)
  tls_failed,        ///< TLS could not be started or trusted; `detail` says why
  no_starttls,       ///< STARTTLS was asked for and the server does not offer it
  login_without_tls, ///< a login was asked for with no TLS, to a server not on loopback
  no_login_method,   ///< no mechanism to log in with; `detail` is the AUTH line as offered
  login_refused,     ///< the server refused the login (`reply`)
};

struct Outcome {
  Fault fault = Fault::none;
  Reply reply;        ///< the server's whole reply, when there is no fault, or its refusal
  std::string detail; ///< with Fault::unasked_reply, tls_failed and no_login_method
  int error = 0;      ///< with Fault::no_connection and Fault::unreadable_text
};

/// Connects to `host` on `port` (open_smtp_connection), starts TLS first
/// when `submission` asks for implicit TLS, and reads the greeting. Debug
/// entries: "Open socket to (HOST:PORT)", "Socket opened ", "Waiting for
/// welcome". Faults: no_connection, tls_failed, no_reply. On a fault the
/// client has no connection.
Outcome open_session(Client &client, const std::string &host, int port,
                     const Submission &submission);

/// Introduces the client as `argument`. When `submission` asks for neither
/// TLS nor a login: HELO (RFC 5321 4.1.1.1), its reply for the caller to
/// judge. Else EHLO; with STARTTLS, STARTTLS, the handshake and EHLO again (RFC 3207 4.2: what was
/// offered before is forgotten); then the login when a user is given (a login without TLS only to a
/// loopback address). Nothing is ever sent in clear text that was meant for TLS. Faults: as
/// command(), and refused, tls_failed, no_starttls, login_without_tls, no_login_method,
/// login_refused; QUIT has then gone where the server can still read it.
Outcome hello(Client &client, const std::string &argument, const Submission &submission);

/// What a fault of submission says, in one line without "-ERR": the texts of
/// tls_failed, no_starttls, login_without_tls, no_login_method and
/// login_refused, naming the client's server; empty for any other fault.
std::string submission_failure(const Client &client, const Outcome &outcome);

/// Sends `command` (which ends with CR LF) and reads its reply within
/// `limit`, unless the server has already sent bytes that answer nothing
/// (left over after the last reply, or waiting now): then QUIT goes instead
/// and the command is never sent, since taking them for its reply would put
/// every later reply one command behind. The debug log shows `shown` for
/// the command when given (a login's secrets). Faults: unasked_reply,
/// no_reply.
Outcome command(Client &client, std::string_view command, std::chrono::milliseconds limit,
                std::string_view shown = {});

/// After the server's 354: the spool file's text in its wire form, then "."
/// and the reply to it. Debug entries "Sending data" and "Sending
/// terminating dot". Faults: unasked_reply (nothing of the text sent),
/// send_failed, unreadable_text (no "." sent: the server drops the partial
/// text), no_reply.
Outcome send_text(Client &client, io::BlockReader &spool);

/// Sends QUIT, waits for its reply within the QUIT limit, and closes the
/// connection. Nothing when there is none.
void quit(Client &client);

/// Sends all of `data` unless the connection fails or the server takes none
/// of it for the send limit; false then.
bool send_all(Client &client, std::string_view data);

/// The next whole reply, waiting at most `limit` for it; logged as received,
/// up to what the reply keeps. When the server closes after part of a reply,
/// that part is the reply. Nothing when no byte came, the connection failed,
/// or the time ran out.
std::optional<Reply> read_reply(Client &client, std::chrono::milliseconds limit);

} // namespace smtp
