#include "smtp/delivery.h"

#include "config/ini.h"
#include "intake/address.h"
#include "log/debug_log.h"
#include "smtp/body.h"
#include "smtp/connection.h"
#include "smtp/port.h"
#include "smtp/session.h"
#include "smtp/socket_errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace smtp {
namespace {

constexpr const char *kNoWelcome = "-ERR Unable to read welcome from SMTP server\n";
constexpr const char *kNoHeloReply = "-ERR Unable to read helo response from SMTP server\n";
constexpr const char *kNoReply = "-ERR Unable to read response from server\n";
constexpr const char *kNobodyAccepted = "Failed to send message to any users\n";

// Replies above this code refuse the step (HELO, MAIL FROM, DATA, ".").
constexpr int kHighestPassingCode = 400;
constexpr int kRecipientAccepted = 250;

std::string refused(const Reply &reply) {
  return "-ERR Invalid smtp response (" + first_line(reply) + ")\n";
}

bool passes(const Reply &reply) { return reply.code <= kHighestPassingCode; }

struct Dialogue {
  Session &session;
  DeliveryOutcome &outcome;

  std::optional<Reply> exchange(const std::string &command, std::chrono::seconds limit) {
    smtp_send_command(session, command);
    return smtp_read_reply(session, limit);
  }

  void debug(std::string_view text) const {
    if (session.debug) logs::debug_log(text);
  }
};

// True when at least one recipient was accepted.
bool offer_recipients(Dialogue &dialogue, const std::vector<std::string> &recipients,
                      bool &reply_missing) {
  bool accepted = false;
  for (const std::string &entry : recipients) {
    std::string recipient = intake::envelope_address(entry);
    auto reply = dialogue.exchange("RCPT TO:" + recipient + "\r\n", kCommandReplyLimit);
    if (!reply) {
      reply_missing = true;
      return accepted;
    }
    if (reply->code == kRecipientAccepted) {
      accepted = true;
    } else {
      dialogue.outcome.messages +=
          "Recipient refused " + recipient + " (" + first_line(*reply) + ")\n";
    }
  }
  return accepted;
}

void run_dialogue(Dialogue &dialogue, const DeliveryRequest &request, std::FILE *spool) {
  DeliveryOutcome &outcome = dialogue.outcome;
  dialogue.debug("Waiting for welcome\n");
  if (!smtp_read_reply(dialogue.session, kCommandReplyLimit)) {
    outcome.messages += kNoWelcome;
    return;
  }

  auto helo = dialogue.exchange("HELO " + request.helo_argument + "\r\n", kCommandReplyLimit);
  if (!helo) {
    outcome.messages += kNoHeloReply;
    return;
  }
  if (!passes(*helo)) {
    outcome.messages += refused(*helo);
    return;
  }

  auto mail =
      dialogue.exchange("MAIL FROM:" + request.envelope_sender + "\r\n", kCommandReplyLimit);
  if (!mail) return;
  if (!passes(*mail)) {
    outcome.messages += refused(*mail);
    return;
  }

  bool reply_missing = false;
  bool accepted = offer_recipients(dialogue, *request.recipients, reply_missing);
  if (reply_missing) {
    outcome.messages += kNoReply;
    return;
  }
  if (!accepted) {
    outcome.messages += kNobodyAccepted;
    platform::close_socket(dialogue.session.socket);
    return;
  }

  auto data = dialogue.exchange("DATA\r\n", kDataReplyLimit);
  if (!data) {
    outcome.messages += kNoReply;
    return;
  }
  // A refused DATA must not be followed by the message: its lines would
  // reach the server as commands.
  if (!passes(*data)) {
    outcome.messages += refused(*data);
    return;
  }
  dialogue.debug("Sending data\n");
  BodyOutcome body = send_message_body(dialogue.session, spool);
  if (body == BodyOutcome::send_failed) return;
  if (body == BodyOutcome::read_failed) {
    outcome.messages += "Could not read " + request.spool_name + "\n";
    return;
  }

  dialogue.debug("Sending terminating dot\n");
  // The final dot is small and would wait behind unacknowledged message data
  // for the server's delayed ACK; send it at once.
  platform::send_without_delay(dialogue.session.socket);
  auto dot = dialogue.exchange(".\r\n", kFinalDotReplyLimit);
  if (!dot) {
    outcome.messages += kNoReply;
    return;
  }
  dialogue.exchange("QUIT\r\n", kCommandReplyLimit);
  if (!passes(*dot)) {
    outcome.messages += refused(*dot);
    return;
  }
  outcome.delivered = true;
}

} // namespace

DeliveryOutcome deliver(const DeliveryRequest &request) {
  DeliveryOutcome outcome;
  auto debug = [&](const std::string &text) {
    if (request.debug) logs::debug_log(text);
  };
  debug("Sending message\n");
  int port = smtp_port(config::ini_lookup(config::kSmtpPortKey));
  std::string host = request.server_host.empty() ? local_host_name() : request.server_host;
  debug("Open socket to (" + host + ":" + std::to_string(port) + ")\n");

  platform::Socket socket = open_smtp_connection(host, port);
  if (socket == platform::kInvalidSocket) {
    outcome.messages += "Could not connect to SMTP server " + host + " " + std::to_string(port) +
                        " " + socket_error_text(platform::last_socket_error()) + "\n";
    return outcome;
  }
  debug("Socket opened \n");

  std::FILE *spool = std::fopen(request.spool_name.c_str(), "rb");
  if (spool == nullptr) {
    outcome.messages += "Could not read " + request.spool_name + "\n";
    outcome.error_stream += request.spool_name + ": " + std::strerror(errno) + "\n";
    return outcome;
  }
  Session session{socket, request.debug, {}};
  Dialogue dialogue{session, outcome};
  run_dialogue(dialogue, request, spool);
  std::fclose(spool);
  return outcome;
}

} // namespace smtp
