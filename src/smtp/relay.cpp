#include "smtp/relay.h"

#include "io/block_reader.h"
#include "log/debug_log.h"
#include "smtp/body.h"
#include "smtp/connection.h"
#include "smtp/delivery.h"
#include "text/ascii.h"

namespace smtp {
namespace {

// RFC 3463 enhanced codes for quillrun's own failures: X.4.1 no answer from
// host, X.4.2 bad connection, X.3.0 a fault of the mail system itself.
constexpr const char *kNotConnected = "451 4.4.1 ";
constexpr const char *kConnectionFailed = "451 4.4.2 ";
constexpr const char *kLocalFailure = "451 4.3.0 ";

void drop_connection(Relay &relay) {
  platform::close_socket(relay.session.socket);
  relay.session = Session{platform::kInvalidSocket, relay.debug, relay.limits.send, {}};
  relay.transaction_open = false;
}

// quillrun's own failure, with its message for the user as the reply text;
// the connection cannot be trusted any further.
Verdict failure(Relay &relay, const char *code, std::string message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  if (relay.session.socket != platform::kInvalidSocket) drop_connection(relay);
  return {code + message, 451};
}

// The server's reply as the client gets it: its first line, whose code must
// be a reply code (RFC 5321 4.2), the rest of a multi-line reply left out.
Verdict passed_on(Relay &relay, const Reply &reply) {
  std::string line = first_line(reply);
  const bool coded = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' &&
                     ascii::is_digit(line[1]) && ascii::is_digit(line[2]) &&
                     (line.size() == 3 || line[3] == ' ' || line[3] == '-');
  if (!coded) {
    return failure(relay, kConnectionFailed, "-ERR Invalid smtp response (" + line + ")");
  }
  if (line.size() > 3) line[3] = ' ';
  return {line, reply.code};
}

Verdict exchange(Relay &relay, const std::string &command, std::chrono::milliseconds limit) {
  Answer answer = ask(relay.session, command, limit);
  if (answer.unasked) {
    return failure(relay, kConnectionFailed, unexpected_reply_message(*answer.unasked));
  }
  if (!answer.reply) return failure(relay, kConnectionFailed, kNoReply);
  return passed_on(relay, *answer.reply);
}

bool is_positive(const Verdict &verdict) { return verdict.code / 100 == 2; }

// A server that turned the session down is left with QUIT.
Verdict turned_down(Relay &relay, Verdict verdict) {
  end_relay(relay);
  return verdict;
}

// Connection, greeting and HELO; a verdict for the client when they fail.
std::optional<Verdict> open_connection(Relay &relay, const std::string &helo_argument) {
  ServerConnection connection = connect_to_server(relay.server_host, relay.debug);
  if (connection.socket == platform::kInvalidSocket) {
    return failure(relay, kNotConnected, connection.failure);
  }
  relay.session = Session{connection.socket, relay.debug, relay.limits.send, {}};
  if (relay.debug) logs::debug_log("Waiting for welcome\n");
  std::optional<Reply> greeting = smtp_read_reply(relay.session, relay.limits.reply);
  if (!greeting) return failure(relay, kConnectionFailed, kNoWelcome);
  // A server that turns the client away says so in its greeting (554).
  Verdict welcome = passed_on(relay, *greeting);
  if (!is_positive(welcome)) return turned_down(relay, welcome);
  Verdict helo = exchange(relay, "HELO " + helo_argument + "\r\n", relay.limits.reply);
  if (!is_positive(helo)) return turned_down(relay, helo);
  return std::nullopt;
}

} // namespace

Verdict relay_mail(Relay &relay, const std::string &reverse_path,
                   const std::string &helo_argument) {
  if (relay.session.socket == platform::kInvalidSocket) {
    if (auto refused = open_connection(relay, helo_argument)) return *refused;
  } else if (relay.transaction_open) {
    Verdict reset = relay_rset(relay);
    if (!is_positive(reset)) return reset;
  }
  Verdict mail = exchange(relay, "MAIL FROM:" + reverse_path + "\r\n", relay.limits.reply);
  relay.transaction_open = is_positive(mail);
  return mail;
}

Verdict relay_rcpt(Relay &relay, const std::string &forward_path) {
  return exchange(relay, "RCPT TO:" + forward_path + "\r\n", relay.limits.reply);
}

Verdict relay_message(Relay &relay, std::FILE *spool, const std::string &spool_name) {
  Verdict data = exchange(relay, "DATA\r\n", relay.limits.data_reply);
  if (data.code / 100 != 3) {
    // Only 354 asks for the text; a server that calls DATA done is broken.
    if (is_positive(data)) {
      return failure(relay, kConnectionFailed, "-ERR Invalid smtp response (" + data.reply + ")");
    }
    return data;
  }
  if (auto unasked = quit_on_unasked_reply(relay.session)) {
    return failure(relay, kConnectionFailed, unexpected_reply_message(*unasked));
  }
  if (relay.debug) logs::debug_log("Sending data\n");
  io::BlockReader text = io::file_reader(spool);
  switch (send_message_body(relay.session, text)) {
  case BodyOutcome::send_failed:
    return failure(relay, kConnectionFailed, kNoReply);
  case BodyOutcome::read_failed:
    // Without the final "." the server drops what it got.
    return failure(relay, kLocalFailure, "Could not read " + spool_name);
  case BodyOutcome::sent:
    break;
  }
  if (relay.debug) logs::debug_log("Sending terminating dot\n");
  platform::send_without_delay(relay.session.socket);
  smtp_send_command(relay.session, ".\r\n");
  std::optional<Reply> dot = smtp_read_reply(relay.session, relay.limits.final_dot_reply);
  if (!dot) return failure(relay, kConnectionFailed, kNoReply);
  relay.transaction_open = false;
  return passed_on(relay, *dot);
}

Verdict relay_rset(Relay &relay) {
  if (relay.session.socket == platform::kInvalidSocket) return {"250 2.0.0 OK", 250};
  Verdict reset = exchange(relay, "RSET\r\n", relay.limits.reply);
  if (is_positive(reset)) relay.transaction_open = false;
  return reset;
}

void end_relay(Relay &relay) {
  if (relay.session.socket == platform::kInvalidSocket) return;
  smtp_send_command(relay.session, "QUIT\r\n");
  smtp_read_reply(relay.session, relay.limits.quit_reply);
  drop_connection(relay);
}

} // namespace smtp
