#include "smtp_server/relay.h"

#include "io/block_reader.h"
#include "smtp/connection.h"

namespace smtp_server {
namespace {

using smtp::Fault;
using smtp::Outcome;
using smtp::ReplyClass;

// RFC 3463 enhanced codes for quillrun's own failures: X.4.1 no answer from
// host, X.4.2 bad connection, X.3.0 a fault of the mail system itself.
constexpr const char *kNotConnected = "451 4.4.1 ";
constexpr const char *kConnectionFailed = "451 4.4.2 ";
constexpr const char *kLocalFailure = "451 4.3.0 ";
// X.7.0: a security feature (TLS, the login) failed.
constexpr const char *kSecurityFailure = "451 4.7.0 ";

constexpr const char *kNoWelcome = "Unable to read welcome from SMTP server";
constexpr const char *kNoReply = "Unable to read response from server";

// quillrun's own failure: the connection cannot be trusted any further, and
// the server's transaction goes with it.
Relayed own_failure(Relay &relay, const char *code, const std::string &text) {
  relay.client.stream.reset();
  return {code + text, ReplyClass::transient_negative, true};
}

std::string invalid_reply(const std::string &line) {
  return "Invalid smtp response (" + line + ")";
}

// The server's reply as the client gets it: its first line, the rest of a
// multi-line reply left out. One without a reply code (RFC 5321 4.2) is a
// broken connection, not a verdict. `no_reply` tells what a missing reply
// was, `spool_name` which file could not be read.
Relayed passed_on(Relay &relay, const Outcome &outcome, const char *no_reply,
                  const std::string &spool_name = {}) {
  switch (outcome.fault) {
  case Fault::none:
    break;
  case Fault::no_connection:
    return own_failure(relay, kNotConnected,
                       smtp::connection_failure(relay.server_host, relay.port, outcome.error));
  case Fault::no_reply:
    return own_failure(relay, kConnectionFailed, no_reply);
  case Fault::unasked_reply:
    return own_failure(relay, kConnectionFailed,
                       "Unexpected reply from server (" + outcome.detail + ")");
  case Fault::send_failed:
    return own_failure(relay, kConnectionFailed, "Connection lost while sending the message");
  case Fault::unreadable_text:
    return own_failure(relay, kLocalFailure, "Could not read " + spool_name);
  case Fault::tls_failed:
  case Fault::no_starttls:
  case Fault::login_without_tls:
  case Fault::no_login_method:
  case Fault::login_refused:
    return own_failure(relay, kSecurityFailure, smtp::submission_failure(relay.client, outcome));
  case Fault::refused:
    break; // the server's own refusal
  }
  std::string line = smtp::first_line(outcome.reply);
  const ReplyClass kind = smtp::reply_class(outcome.reply);
  if (kind == ReplyClass::malformed)
    return own_failure(relay, kConnectionFailed, invalid_reply(line));
  // A multi-line reply's continuation mark becomes a blank.
  if (line.size() > 3) line[3] = ' ';
  return {line, kind, false};
}

// A server that turned the session down is left with QUIT.
Relayed turned_down(Relay &relay, Relayed relayed) {
  smtp::quit(relay.client);
  relayed.ended = true;
  return relayed;
}

// Connection, greeting and HELO; the reply for the client when they fail (a
// server that turns clients away says so in its greeting: 554, or 421).
std::optional<Relayed> open_connection(Relay &relay, const std::string &helo_argument) {
  Relayed greeting = passed_on(
      relay, smtp::open_session(relay.client, relay.server_host, relay.port, relay.submission),
      kNoWelcome);
  if (!positive(greeting)) return turned_down(relay, greeting);
  Relayed helo =
      passed_on(relay, smtp::hello(relay.client, helo_argument, relay.submission), kNoReply);
  if (!positive(helo)) return turned_down(relay, helo);
  return std::nullopt;
}

} // namespace

bool positive(const Relayed &relayed) { return relayed.kind == ReplyClass::positive_completion; }

Relayed relay_mail(Relay &relay, const std::string &reverse_path, const std::string &helo_argument,
                   bool reset_first) {
  if (!relay.unusable.empty()) return {relay.unusable, ReplyClass::transient_negative, true};
  if (!relay.client.stream) {
    if (auto refused = open_connection(relay, helo_argument)) return *refused;
  } else if (reset_first) {
    Relayed reset = relay_rset(relay);
    if (!positive(reset)) return reset;
  }
  Relayed mail = passed_on(
      relay,
      smtp::command(relay.client, "MAIL FROM:" + reverse_path + "\r\n", relay.client.limits.reply),
      kNoReply);
  mail.ended = mail.ended || !positive(mail);
  return mail;
}

Relayed relay_rcpt(Relay &relay, const std::string &forward_path) {
  return passed_on(
      relay,
      smtp::command(relay.client, "RCPT TO:" + forward_path + "\r\n", relay.client.limits.reply),
      kNoReply);
}

Relayed relay_message(Relay &relay, std::FILE *spool, const std::string &spool_name) {
  Relayed data = passed_on(
      relay, smtp::command(relay.client, "DATA\r\n", relay.client.limits.data_reply), kNoReply);
  // Only 354 asks for the text; a server that calls DATA done is broken.
  if (positive(data)) return own_failure(relay, kConnectionFailed, invalid_reply(data.reply));
  if (data.kind != ReplyClass::positive_intermediate) return data;
  io::BlockReader text = io::file_reader(spool);
  Relayed dot = passed_on(relay, smtp::send_text(relay.client, text), kNoReply, spool_name);
  dot.ended = true;
  return dot;
}

Relayed relay_rset(Relay &relay) {
  if (!relay.client.stream) return {"250 2.0.0 OK", ReplyClass::positive_completion, true};
  Relayed reset = passed_on(
      relay, smtp::command(relay.client, "RSET\r\n", relay.client.limits.reply), kNoReply);
  reset.ended = reset.ended || positive(reset);
  return reset;
}

void end_relay(Relay &relay) { smtp::quit(relay.client); }

} // namespace smtp_server
