#include "smtp/submission.h"

#include "smtp/auth.h"
#include "smtp/connection.h"

namespace smtp {
namespace {

Outcome failed(Fault fault, std::string detail = {}) { return {fault, {}, std::move(detail), 0}; }

// RFC 4954 6: "Authentication credentials invalid". Any other refusal (454
// a temporary failure, 421 the server closing) says nothing of the token.
constexpr int kCredentialsInvalid = 535;

// The server's refusal of a step the dialogue cannot go on without, after
// which it is left with QUIT.
Opening quit_with(Client &client, Outcome outcome, Capabilities offered = {}) {
  quit(client);
  return {std::move(outcome), std::move(offered)};
}

Opening extended_hello(Client &client, const std::string &argument) {
  Outcome ehlo = command(client, "EHLO " + argument + "\r\n", client.limits.reply);
  if (ehlo.fault != Fault::none) return {std::move(ehlo), {}};
  if (reply_class(ehlo.reply) != ReplyClass::positive_completion) {
    return quit_with(client, {Fault::ehlo_refused, std::move(ehlo.reply), {}, 0});
  }
  Capabilities offered = parse_capabilities(ehlo.reply);
  return {std::move(ehlo), std::move(offered)};
}

// RFC 3207 4: STARTTLS, its 220, the handshake. Whatever the server sends
// after its 220 and before the handshake was injected by someone on the way
// (and would be read as if it came through TLS): the run ends there.
Opening upgrade_to_tls(Client &client, const Opening &greeted, const Submission &submission) {
  if (!greeted.offered.starttls) return quit_with(client, failed(Fault::no_starttls));
  Outcome starttls = command(client, "STARTTLS\r\n", client.limits.reply);
  if (starttls.fault != Fault::none) return {std::move(starttls), {}};
  if (reply_class(starttls.reply) != ReplyClass::positive_completion) {
    return quit_with(client, failed(Fault::tls_failed, "server refused STARTTLS (" +
                                                           first_line(starttls.reply) + ")"));
  }
  if (!take_unasked_bytes(client).empty()) {
    client.stream.reset();
    return {failed(Fault::tls_failed, "bytes sent before the handshake"), {}};
  }
  return {start_tls(client, submission.tls_ca_file), {}};
}

} // namespace

Outcome open_connection(Client &client, const std::string &host, int port,
                        const Submission &submission) {
  return open_session(client, host, port, submission.tls == TlsMode::implicit,
                      submission.tls_ca_file);
}

Opening open_submission(Client &client, const std::string &argument, Submission &submission) {
  if (!extended(submission)) {
    return {command(client, "HELO " + argument + "\r\n", client.limits.reply), {}};
  }
  // A password in clear text goes nowhere but to the machine itself.
  if (!submission.user.empty() && submission.tls == TlsMode::off && !is_loopback(client.address)) {
    return quit_with(client, failed(Fault::login_without_tls));
  }
  Opening greeted = extended_hello(client, argument);
  if (greeted.outcome.fault == Fault::none && submission.tls == TlsMode::starttls) {
    greeted = upgrade_to_tls(client, greeted, submission);
    if (greeted.outcome.fault == Fault::none) greeted = extended_hello(client, argument);
  }
  if (greeted.outcome.fault != Fault::none || submission.user.empty()) return greeted;
  std::optional<AuthMethod> mechanism = chosen_mechanism(submission.auth, greeted.offered);
  if (!mechanism) {
    Outcome none_usable = failed(Fault::no_login_method, greeted.offered.auth_offered);
    return quit_with(client, std::move(none_usable), std::move(greeted.offered));
  }
  Outcome login = log_in(client, *mechanism, submission.user, submission.secret);
  if (login.fault == Fault::login_refused && login.reply.code == kCredentialsInvalid &&
      submission.renew_secret) {
    // RFC 4954 4: a failed AUTH may be followed by another. A kept token the
    // server no longer takes (revoked, or its lifetime cut short) is
    // replaced once, in this same session, and for the later connections of
    // a "-bs" session.
    std::string fresh;
    Outcome renewed = submission.renew_secret(fresh);
    if (renewed.fault != Fault::none) {
      return quit_with(client, std::move(renewed), std::move(greeted.offered));
    }
    submission.secret = std::move(fresh);
    login = log_in(client, *mechanism, submission.user, submission.secret);
  }
  if (login.fault == Fault::login_refused) {
    return quit_with(client, std::move(login), std::move(greeted.offered));
  }
  return {std::move(login), std::move(greeted.offered)};
}

} // namespace smtp
