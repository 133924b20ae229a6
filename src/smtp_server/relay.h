// The "-bs" relay: each step of the client's messages passed on live to the
// SMTP server over one connection, opened at the first MAIL and kept for the
// session. The client gets the server's own reply; only quillrun's own
// failures get a 451 of quillrun's.
#pragma once

#include "smtp/client.h"
#include "smtp/reply.h"
#include "smtp/submission.h"

#include <cstdio>
#include <string>

namespace smtp_server {

struct Relay {
  std::string server_host; ///< the server, by name or address
  int port = 0;
  smtp::Submission submission; ///< TLS and login, when asked for
  /// With a fault, the answer to every MAIL: the settings or the secret
  /// could not be had, and no message may go without what they ask for.
  smtp::Outcome unusable;
  smtp::Client client; ///< no stream while there is no connection; a test hands one in memory
  smtp::Capabilities offered; ///< what the server's EHLO offered; nothing after HELO
};

/// A reply for the client, and what it did to the server's transaction.
struct Relayed {
  std::string reply; ///< one line, without CR LF, beginning with its code
  smtp::ReplyClass kind = smtp::ReplyClass::transient_negative;
  bool ended = false; ///< the server holds no transaction of the client's after it
};

/// Whether the server took the step: a 2xx reply.
bool positive(const Relayed &relayed);

/// Connects and says HELO `helo_argument` first when there is no connection,
/// or, with `reset_first`, resets the transaction the server still holds;
/// then passes on MAIL FROM, with BODY=8BITMIME when `eight_bit` and the
/// server offers 8BITMIME. A refused MAIL ends the transaction.
Relayed relay_mail(Relay &relay, const std::string &reverse_path, const std::string &helo_argument,
                   bool reset_first, bool eight_bit);

/// Passes on RCPT TO.
Relayed relay_rcpt(Relay &relay, const std::string &forward_path);

/// Passes on DATA and, when the server asks for it, the spool file and "."
/// (`spool_name` names it in replies). The reply is the server's to the
/// message, or its refusal of DATA.
Relayed relay_message(Relay &relay, std::FILE *spool, const std::string &spool_name);

/// Passes on RSET when there is a connection; 250 of its own when not.
Relayed relay_rset(Relay &relay);

/// Passes on QUIT, waits briefly for its reply, and closes the connection.
void end_relay(Relay &relay);

} // namespace smtp_server
