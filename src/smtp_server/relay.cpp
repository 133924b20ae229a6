#include "smtp_server/relay.h"

#include "io/block_reader.h"
#include "smtp/fault_text.h"

namespace smtp_server {
namespace {

using smtp::Fault;
using smtp::Outcome;
using smtp::ReplyClass;

// The reply code of quillrun's own failures, with the RFC 3463 enhanced code
// that says what failed.
struct OwnCode {
  Fault fault;
  const char *code;
};

// X.4.2: a bad connection; a reply no server should send is as bad.
constexpr const char *kBadConnection = "451 4.4.2 ";

constexpr OwnCode kOwnCodes[] = {
    // X.4.1: no answer from the host.
    {Fault::no_connection, "451 4.4.1 "},
    {Fault::no_reply, kBadConnection},
    {Fault::unasked_reply, kBadConnection},
    {Fault::send_failed, kBadConnection},
    // X.3.0: a fault of the mail system itself; X.3.5: it is not configured to send.
    {Fault::unreadable_text, "451 4.3.0 "},
    {Fault::unusable_settings, "451 4.3.5 "},
    // X.7.0: a security feature (TLS, the login, its secret) failed.
    {Fault::tls_failed, "451 4.7.0 "},
    {Fault::no_starttls, "451 4.7.0 "},
    {Fault::login_without_tls, "451 4.7.0 "},
    {Fault::no_login_method, "451 4.7.0 "},
    {Fault::login_refused, "451 4.7.0 "},
    {Fault::no_secret, "451 4.7.0 "},
};

const char *own_code(Fault fault) {
  for (const OwnCode &row : kOwnCodes) {
    if (row.fault == fault) return row.code;
  }
  return kBadConnection;
}

// quillrun's own failure: the connection cannot be trusted any further, and
// the server's transaction goes with it.
Relayed own_failure(Relay &relay, const std::string &reply) {
  relay.client.stream.reset();
  return {reply, ReplyClass::transient_negative, true};
}

// The server's reply as the client gets it: its first line, the rest of a
// multi-line reply left out. One without a reply code (RFC 5321 4.2) is a
// broken connection, not a verdict. A missing greeting is told as such.
Relayed passed_on(Relay &relay, const Outcome &outcome,
                  smtp::Awaited awaited = smtp::Awaited::response) {
  if (outcome.fault != Fault::none && outcome.fault != Fault::ehlo_refused) {
    return own_failure(relay,
                       own_code(outcome.fault) + smtp::fault_text(relay.client, outcome, awaited));
  }
  std::string line = smtp::first_line(outcome.reply);
  const ReplyClass kind = smtp::reply_class(outcome.reply);
  if (kind == ReplyClass::malformed) {
    return own_failure(relay, kBadConnection + smtp::invalid_response(line));
  }
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
std::optional<Relayed> open_relay_session(Relay &relay, const std::string &helo_argument) {
  Relayed greeting = passed_on(
      relay, smtp::open_connection(relay.client, relay.server_host, relay.port, relay.submission),
      smtp::Awaited::welcome);
  if (!positive(greeting)) return turned_down(relay, greeting);
  smtp::Opening opening = smtp::open_submission(relay.client, helo_argument, relay.submission);
  relay.offered = std::move(opening.offered);
  Relayed helo = passed_on(relay, opening.outcome);
  if (!positive(helo)) return turned_down(relay, helo);
  return std::nullopt;
}

} // namespace

bool positive(const Relayed &relayed) { return relayed.kind == ReplyClass::positive_completion; }

Relayed relay_mail(Relay &relay, const std::string &reverse_path, const std::string &helo_argument,
                   bool reset_first, bool eight_bit) {
  if (relay.unusable.fault != Fault::none) {
    return {own_code(relay.unusable.fault) + smtp::fault_text(relay.client, relay.unusable),
            ReplyClass::transient_negative, true};
  }
  if (!relay.client.stream) {
    if (auto refused = open_relay_session(relay, helo_argument)) return *refused;
  } else if (reset_first) {
    Relayed reset = relay_rset(relay);
    if (!positive(reset)) return reset;
  }
  // RFC 6152: 8-bit text is declared where the server can take it, as the
  // piped run does; to one that cannot, it goes as the client sent it.
  const char *body = eight_bit && relay.offered.eight_bit_mime ? " BODY=8BITMIME" : "";
  Relayed mail =
      passed_on(relay, smtp::command(relay.client, "MAIL FROM:" + reverse_path + body + "\r\n",
                                     relay.client.limits.reply));
  mail.ended = mail.ended || !positive(mail);
  return mail;
}

Relayed relay_rcpt(Relay &relay, const std::string &forward_path) {
  return passed_on(relay, smtp::command(relay.client, "RCPT TO:" + forward_path + "\r\n",
                                        relay.client.limits.reply));
}

Relayed relay_message(Relay &relay, std::FILE *spool, const std::string &spool_name) {
  Relayed data =
      passed_on(relay, smtp::command(relay.client, "DATA\r\n", relay.client.limits.data_reply));
  // Only 354 asks for the text; a server that calls DATA done is broken.
  if (positive(data))
    return own_failure(relay, kBadConnection + smtp::invalid_response(data.reply));
  if (data.kind != ReplyClass::positive_intermediate) return data;
  io::BlockReader text = io::file_reader(spool);
  Relayed dot = passed_on(relay, smtp::send_text(relay.client, text, spool_name));
  dot.ended = true;
  return dot;
}

Relayed relay_rset(Relay &relay) {
  if (!relay.client.stream) return {"250 2.0.0 OK", ReplyClass::positive_completion, true};
  Relayed reset =
      passed_on(relay, smtp::command(relay.client, "RSET\r\n", relay.client.limits.reply));
  reset.ended = reset.ended || positive(reset);
  return reset;
}

void end_relay(Relay &relay) { smtp::quit(relay.client); }

} // namespace smtp_server
