// How the client submits to a provider's server (RFC 6409): TLS, implicit
// (RFC 8314) or by STARTTLS (RFC 3207), and SMTP AUTH (RFC 4954). Empty, it
// asks for neither, and the dialogue is the plain one of HELO.
#pragma once

#include <string>

namespace smtp {

enum class TlsMode { off, starttls, implicit };

/// The SASL mechanism to log in with; `offered` takes PLAIN when the server
/// offers it, else LOGIN.
enum class AuthMethod { offered, plain, login, xoauth2 };

struct Submission {
  TlsMode tls = TlsMode::off;
  std::string tls_ca_file; ///< empty: the system's trusted roots
  std::string user;        ///< empty: no login
  std::string secret;      ///< the password, or the access token for XOAUTH2
  AuthMethod auth = AuthMethod::offered;
};

/// Whether the dialogue goes beyond plain HELO: TLS or a login asked for.
inline bool extended(const Submission &submission) {
  return submission.tls != TlsMode::off || !submission.user.empty();
}

} // namespace smtp
