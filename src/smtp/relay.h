// The server side of "-bs" passes each step of its client's messages on to
// the SMTP server live, and hands back the server's own verdict; only
// quillrun's own failures (no connection, no reply) get a reply of its own.
#pragma once

#include "smtp/session.h"
#include "smtp/time_limits.h"

#include <cstdio>
#include <string>

namespace smtp {

/// A reply for the client: one line, without CR LF, beginning with its code.
struct Verdict {
  std::string reply;
  int code = 0;
};

struct Relay {
  std::string server_host; ///< empty: the machine's own host name
  bool debug = false;
  TimeLimits limits;
  Session session;               ///< its socket is invalid while there is no connection
  bool transaction_open = false; ///< the server took MAIL and the transaction has not ended
};

/// Connects and says HELO `helo_argument` first when there is no connection
/// (a transaction left open is reset first), then passes on MAIL FROM.
Verdict relay_mail(Relay &relay, const std::string &reverse_path, const std::string &helo_argument);

/// Passes on RCPT TO.
Verdict relay_rcpt(Relay &relay, const std::string &forward_path);

/// Passes on DATA and, when the server asks for it, the spool file and "."
/// (`spool_name` names it in messages). The verdict is the server's reply to
/// the message, or its refusal of DATA.
Verdict relay_message(Relay &relay, std::FILE *spool, const std::string &spool_name);

/// Passes on RSET when there is a connection; 250 of its own when not.
Verdict relay_rset(Relay &relay);

/// Passes on QUIT, waits briefly for its reply, and closes the connection.
void end_relay(Relay &relay);

} // namespace smtp
