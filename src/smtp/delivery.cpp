#include "smtp/delivery.h"

#include "io/block_reader.h"
#include "log/debug_log.h"
#include "log/report.h"
#include "platform/private_file.h"
#include "smtp/body.h"
#include "smtp/connection.h"
#include "smtp/session.h"

namespace smtp {
namespace {

constexpr const char *kNobodyAccepted = "Failed to send message to any users\n";

// Replies above this code refuse the step (HELO, MAIL FROM, DATA, "."). A
// code of 400 itself, and a reply without a number, pass: servers and
// callers have long relied on that leniency.
constexpr int kHighestPassingCode = 400;
constexpr int kRecipientAccepted = 250;

void report_refused(const Reply &reply) {
  logs::report("-ERR Invalid smtp response (" + first_line(reply) + ")\n");
}

void report_unasked(const std::string &line) { logs::report(unexpected_reply_message(line)); }

bool passes(const Reply &reply) { return reply.code <= kHighestPassingCode; }

} // namespace

std::string unexpected_reply_message(const std::string &line) {
  return "-ERR Unexpected reply from server (" + line + ")\n";
}

namespace {

struct Dialogue {
  Session &session;
  const DeliveryRequest &request;

  void debug(std::string_view text) const {
    if (session.debug) logs::debug_log(text);
  }
};

enum class Check { refusal, none };

// One step of the dialogue: sends `command` and reads its reply. Nothing,
// after the step's message, when the run ends here: a reply nobody asked for
// came first, no reply came (`no_reply` is printed, if given), or, with
// Check::refusal, the reply refuses the step.
std::optional<Reply> step(Dialogue &dialogue, const std::string &command,
                          std::chrono::milliseconds limit, const char *no_reply, Check check) {
  Answer answer = ask(dialogue.session, command, limit);
  std::optional<Reply> &reply = answer.reply;
  if (answer.unasked) {
    report_unasked(*answer.unasked);
  } else if (!reply) {
    if (no_reply != nullptr) logs::report(no_reply);
  } else if (check == Check::refusal && !passes(*reply)) {
    report_refused(*reply);
    reply.reset();
  }
  return reply;
}

enum class Offered { accepted, none_accepted, run_ended };

Offered offer_recipients(Dialogue &dialogue) {
  bool accepted = false;
  for (const std::string &recipient : *dialogue.request.recipients) {
    auto reply = step(dialogue, "RCPT TO:" + recipient + "\r\n", dialogue.request.limits.reply,
                      kNoReply, Check::none);
    if (!reply) return Offered::run_ended;
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
  if (auto unasked = quit_on_unasked_reply(dialogue.session)) {
    report_unasked(*unasked);
    return false;
  }
  dialogue.debug("Sending data\n");
  io::BlockReader spool = io::file_reader(request.spool);
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
  smtp_send_command(dialogue.session, ".\r\n");
  auto dot = smtp_read_reply(dialogue.session, request.limits.final_dot_reply);
  if (!dot) {
    logs::report(kNoReply);
    return false;
  }
  // The server has taken the message: from here on no ending, not even a
  // signal, may tell the caller otherwise, or the caller sends it again.
  if (passes(*dot)) platform::set_ending_status(0);
  // The reply to "." has settled the outcome; QUIT gets a short wait only.
  smtp_send_command(dialogue.session, "QUIT\r\n");
  smtp_read_reply(dialogue.session, request.limits.quit_reply);
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
  if (!step(dialogue, "HELO " + dialogue.request.helo_argument + "\r\n", limits.reply, kNoHeloReply,
            Check::refusal) ||
      !step(dialogue, "MAIL FROM:" + dialogue.request.envelope_sender + "\r\n", limits.reply,
            nullptr, Check::refusal)) {
    return false;
  }
  switch (offer_recipients(dialogue)) {
  case Offered::run_ended:
    return false;
  case Offered::none_accepted:
    logs::report(kNobodyAccepted);
    // Closed here alone, at once and without QUIT: callers have long seen
    // this run end so, and servers take the closed connection for one.
    platform::close_socket(dialogue.session.socket);
    return false;
  case Offered::accepted:
    break;
  }
  // A refused DATA must not be followed by the message: its lines would
  // reach the server as commands.
  return step(dialogue, "DATA\r\n", limits.data_reply, kNoReply, Check::refusal) &&
         send_message(dialogue);
}

} // namespace

bool deliver(const DeliveryRequest &request) {
  if (request.debug) logs::debug_log("Sending message\n");
  ServerConnection connection = connect_to_server(request.server_host, request.debug);
  if (connection.socket == platform::kInvalidSocket) {
    logs::report(connection.failure);
    return false;
  }
  Session session{connection.socket, request.debug, request.limits.send, {}};
  Dialogue dialogue{session, request};
  return run_dialogue(dialogue);
}

} // namespace smtp
