#include "smtp/delivery.h"

#include "config/ini.h"
#include "io/block_reader.h"
#include "log/debug_log.h"
#include "log/report.h"
#include "smtp/body.h"
#include "smtp/connection.h"
#include "smtp/port.h"
#include "smtp/session.h"
#include "smtp/socket_errors.h"

#include <cerrno>

namespace smtp {
namespace {

constexpr const char *kNoWelcome = "-ERR Unable to read welcome from SMTP server\n";
constexpr const char *kNoHeloReply = "-ERR Unable to read helo response from SMTP server\n";
constexpr const char *kNoReply = "-ERR Unable to read response from server\n";
constexpr const char *kNobodyAccepted = "Failed to send message to any users\n";

// Replies above this code refuse the step (HELO, MAIL FROM, DATA, ".").
constexpr int kHighestPassingCode = 400;
constexpr int kRecipientAccepted = 250;

void report_refused(const Reply &reply) {
  logs::report("-ERR Invalid smtp response (" + first_line(reply) + ")\n");
}

bool passes(const Reply &reply) { return reply.code <= kHighestPassingCode; }

struct Dialogue {
  Session &session;
  const DeliveryRequest &request;

  std::optional<Reply> exchange(const std::string &command, std::chrono::milliseconds limit) {
    smtp_send_command(session, command);
    return smtp_read_reply(session, limit);
  }

  void debug(std::string_view text) const {
    if (session.debug) logs::debug_log(text);
  }
};

enum class Offered { accepted, none_accepted, reply_missing };

Offered offer_recipients(Dialogue &dialogue) {
  bool accepted = false;
  for (const std::string &recipient : *dialogue.request.recipients) {
    auto reply = dialogue.exchange("RCPT TO:" + recipient + "\r\n", dialogue.request.limits.reply);
    if (!reply) return Offered::reply_missing;
    if (reply->code == kRecipientAccepted) {
      accepted = true;
    } else {
      logs::report("Recipient refused " + recipient + " (" + first_line(*reply) + ")\n");
    }
  }
  return accepted ? Offered::accepted : Offered::none_accepted;
}

// The message after an accepted DATA, then "." and QUIT.
bool send_message(Dialogue &dialogue) {
  const DeliveryRequest &request = dialogue.request;
  dialogue.debug("Sending data\n");
  io::BlockReader spool{[file = request.spool](char *buffer, std::size_t capacity) -> long {
    errno = 0;
    std::size_t count = std::fread(buffer, 1, capacity, file);
    return count == 0 && std::ferror(file) ? -1 : static_cast<long>(count);
  }};
  BodyOutcome body = send_message_body(dialogue.session, spool);
  if (body == BodyOutcome::send_failed) return false;
  if (body == BodyOutcome::read_failed) {
    logs::report("Could not read " + request.spool_name + "\n");
    logs::report_system_error(request.spool_name, spool.error);
    return false;
  }

  dialogue.debug("Sending terminating dot\n");
  // The final dot is small and would wait behind unacknowledged message data
  // for the server's delayed ACK; send it at once.
  platform::send_without_delay(dialogue.session.socket);
  auto dot = dialogue.exchange(".\r\n", request.limits.final_dot_reply);
  if (!dot) {
    logs::report(kNoReply);
    return false;
  }
  // The reply to "." has settled the outcome; QUIT gets a short wait only.
  dialogue.exchange("QUIT\r\n", request.limits.quit_reply);
  if (!passes(*dot)) {
    report_refused(*dot);
    return false;
  }
  return true;
}

bool run_dialogue(Dialogue &dialogue) {
  const TimeLimits &limits = dialogue.request.limits;
  dialogue.debug("Waiting for welcome\n");
  if (!smtp_read_reply(dialogue.session, limits.reply)) {
    logs::report(kNoWelcome);
    return false;
  }

  auto helo = dialogue.exchange("HELO " + dialogue.request.helo_argument + "\r\n", limits.reply);
  if (!helo) {
    logs::report(kNoHeloReply);
    return false;
  }
  if (!passes(*helo)) {
    report_refused(*helo);
    return false;
  }

  auto mail = dialogue.exchange("MAIL FROM:" + dialogue.request.envelope_sender + "\r\n",
                                limits.reply);
  if (!mail) return false;
  if (!passes(*mail)) {
    report_refused(*mail);
    return false;
  }

  switch (offer_recipients(dialogue)) {
  case Offered::reply_missing:
    logs::report(kNoReply);
    return false;
  case Offered::none_accepted:
    logs::report(kNobodyAccepted);
    platform::close_socket(dialogue.session.socket);
    return false;
  case Offered::accepted:
    break;
  }

  auto data = dialogue.exchange("DATA\r\n", limits.data_reply);
  if (!data) {
    logs::report(kNoReply);
    return false;
  }
  // A refused DATA must not be followed by the message: its lines would
  // reach the server as commands.
  if (!passes(*data)) {
    report_refused(*data);
    return false;
  }
  return send_message(dialogue);
}

} // namespace

bool deliver(const DeliveryRequest &request) {
  auto debug = [&](const std::string &text) {
    if (request.debug) logs::debug_log(text);
  };
  debug("Sending message\n");
  int port = smtp_port(config::ini_lookup(config::kSmtpPortKey));
  std::string host = request.server_host.empty() ? local_host_name() : request.server_host;
  debug("Open socket to (" + host + ":" + std::to_string(port) + ")\n");

  platform::Socket socket = open_smtp_connection(host, port);
  if (socket == platform::kInvalidSocket) {
    logs::report("Could not connect to SMTP server " + host + " " + std::to_string(port) + " " +
                 socket_error_text(platform::last_socket_error()) + "\n");
    return false;
  }
  debug("Socket opened \n");

  Session session{socket, request.debug, request.limits.send, {}};
  Dialogue dialogue{session, request};
  return run_dialogue(dialogue);
}

} // namespace smtp
