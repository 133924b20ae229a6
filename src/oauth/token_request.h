// The token request on the wire (RFC 6749 4.4.2, 6): one HTTP/1.1 POST to
// the token endpoint over TLS, through an HTTP proxy's tunnel when one is
// set (RFC 9110 9.3.6), the whole exchange within one time limit.
#pragma once

#include "oauth/grant.h"
#include "oauth/token_answer.h"
#include "smtp/client.h"

#include <string>

namespace oauth {

/// How long the whole token request may take, as a password_command.
inline constexpr int kTokenRequestMs = 30 * 1000;

/// The token request's TCP connection: every address of the endpoint (or
/// the proxy) within the request's own time limit.
smtp::Connected connect_for_token(std::string &host, int port);

/// Asks `grant`'s endpoint for an access token with `secret` (the client
/// secret, or the refresh token), over connections that `connect` makes.
/// The endpoint is trusted as the system's roots say (a private CA for the
/// SMTP server does not apply here). The answer's failure is the whole text
/// of the fault: "TLS with HOST failed: REASON" as the SMTP dialogue says
/// it, else "Token request to HOST failed: REASON", REASON the answer's
/// own (see parse_token_answer) or "no connection to HOST:PORT (WORDS)",
/// "the proxy HOST:PORT answered: LINE", "no answer within 30 seconds",
/// "the connection was lost", or the HTTP reader's words; `secret` and the
/// grant's client secret, as they are or form-encoded, show in it as
/// "<hidden>" (an endpoint may quote the request). The debug log
/// shows the URL, the grant, the answer's status and the token's lifetime,
/// never a secret or a token.
TokenAnswer request_token(const Grant &grant, const std::string &secret,
                          const smtp::Connect &connect);

} // namespace oauth
