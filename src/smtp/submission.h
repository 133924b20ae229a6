// Submission to a provider's server (RFC 6409): TLS, implicit (RFC 8314) or
// by STARTTLS (RFC 3207), and SMTP AUTH (RFC 4954), opened over a connected
// client. Empty, a Submission asks for neither, and the dialogue is the
// plain one of HELO.
#pragma once

#include "smtp/capabilities.h"
#include "smtp/client.h"

#include <functional>
#include <string>

namespace smtp {

enum class TlsMode { off, starttls, implicit };

/// The SASL mechanism to log in with; `offered` takes PLAIN when the server
/// offers it, else LOGIN.
enum class AuthMethod { offered, plain, login, xoauth2 };

struct Submission {
  TlsMode tls = TlsMode::off;
  platform::CaFile tls_ca_file; ///< its path empty: the system's trusted roots
  std::string user;             ///< empty: no login
  std::string secret;           ///< the password, or the access token for XOAUTH2
  AuthMethod auth = AuthMethod::offered;
  /// Set when the secret is a token the server may no longer take (one
  /// kept from an earlier run): puts a fresh one in its argument, or
  /// returns why there is none (Fault::no_secret).
  std::function<Outcome(std::string &fresh)> renew_secret;
};

/// Whether the dialogue goes beyond plain HELO: TLS or a login asked for.
inline bool extended(const Submission &submission) {
  return submission.tls != TlsMode::off || !submission.user.empty();
}

/// The session opened on `submission`'s terms, up to its first MAIL.
struct Opening {
  Outcome outcome;      ///< the reply to HELO or the last EHLO, or the fault
  Capabilities offered; ///< what the last EHLO reply offered, the login's fault or not;
                        ///< nothing after HELO
};

/// Connects to `host` on `port`, with implicit TLS when `submission` asks
/// for it, and reads the greeting (open_session). The greeting's outcome,
/// for the caller to judge: any code may open the dialogue.
Outcome open_connection(Client &client, const std::string &host, int port,
                        const Submission &submission);

/// Opens the dialogue after the greeting, introducing the client as
/// `argument`. When `submission` asks for neither TLS nor a login: HELO (RFC
/// 5321 4.1.1.1), its reply for the caller to judge. Else EHLO; with
/// STARTTLS, STARTTLS, the handshake and EHLO again (RFC 3207 4.2: what was
/// offered before is forgotten); then the login when a user is given (a
/// login without TLS only to a loopback address); when the server refuses
/// with 535 a secret that can be renewed, once more with the renewed one,
/// which becomes `submission`'s secret. Nothing is ever sent in clear text
/// that was meant for TLS. Faults: as command(), and
/// ehlo_refused, tls_failed, no_starttls, login_without_tls,
/// no_login_method, login_refused, no_secret; QUIT has then gone where the server can
/// still read it.
Opening open_submission(Client &client, const std::string &argument, Submission &submission);

} // namespace smtp
