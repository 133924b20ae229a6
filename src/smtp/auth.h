// SMTP AUTH (RFC 4954) with the SASL mechanisms quillrun speaks: PLAIN
// (RFC 4616), LOGIN (the older mechanism every server still offers), and
// XOAUTH2 (an OAuth 2.0 bearer token, RFC 6750, as providers define it).
#pragma once

#include "smtp/capabilities.h"
#include "smtp/client.h"
#include "smtp/submission.h"

#include <optional>
#include <string>
#include <string_view>

namespace smtp {

/// `bytes` in base64 (RFC 4648 4), padded.
std::string base64(std::string_view bytes);

/// The SASL name of `mechanism` ("PLAIN", "LOGIN", "XOAUTH2"); empty for
/// AuthMethod::offered, which names none.
std::string_view mechanism_name(AuthMethod mechanism);

/// The mechanism to log in with: the one asked for, when offered; for
/// AuthMethod::offered PLAIN when offered, else LOGIN; nothing when the
/// server offers none of these.
std::optional<AuthMethod> chosen_mechanism(AuthMethod asked, const Capabilities &offered);

/// Logs in as `user` with `secret` by `mechanism` (never AuthMethod::offered).
/// The debug log shows "<hidden>" for the secret, the user and every answer
/// that carries them. Adds the forms the secret takes to `client.secrets`,
/// to be hidden in replies from then on, beside those of an earlier login.
/// Faults: unasked_reply, no_reply, login_refused.
Outcome log_in(Client &client, AuthMethod mechanism, const std::string &user,
               const std::string &secret);

} // namespace smtp
