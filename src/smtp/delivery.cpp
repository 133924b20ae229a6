#include "smtp/delivery.h"

#include "log/debug_log.h"
#include "log/report.h"
#include "platform/private_file.h"
#include "smtp/client.h"
#include "smtp/connection.h"

#include <optional>

namespace smtp {
namespace {

constexpr const char *kNoWelcome = "-ERR Unable to read welcome from SMTP server\n";
constexpr const char *kNoHeloReply = "-ERR Unable to read helo response from SMTP server\n";
constexpr const char *kNoReply = "-ERR Unable to read response from server\n";
constexpr const char *kNobodyAccepted = "Failed to send message to any users\n";

// The acceptance rules of the piped run, kept on purpose since servers and
// callers have long relied on their leniency: a greeting of any code opens
// the dialogue; a reply to HELO, MAIL FROM, DATA or "." passes up to the
// code 400 itself, and so does one without a number (code 0); a recipient
// counts as accepted with exactly 250.
constexpr int kHighestPassingCode = 400;
constexpr int kRecipientAccepted = 250;

bool passes(const Reply &reply) { return reply.code <= kHighestPassingCode; }

void report_refused(const Reply &reply) {
  logs::report("-ERR Invalid smtp response (" + first_line(reply) + ")\n");
}

enum class Check { refusal, none };

// The reply when the run goes on after this step. Nothing, after the step's
// message, when it ends here: a reply nobody asked for came first, no reply
// came (`no_reply` is printed, if given), the text could not be sent (no
// message: the connection is gone), submission failed, or, with
// Check::refusal, the reply refuses the step.
std::optional<Reply> judged(const Client &client, Outcome outcome, const char *no_reply,
                            Check check) {
  switch (outcome.fault) {
  case Fault::none:
    break;
  case Fault::refused:
    report_refused(outcome.reply);
    return std::nullopt;
  case Fault::tls_failed:
  case Fault::no_starttls:
  case Fault::login_without_tls:
  case Fault::no_login_method:
  case Fault::login_refused:
    logs::report("-ERR " + submission_failure(client, outcome) + "\n");
    return std::nullopt;
  case Fault::unasked_reply:
    logs::report("-ERR Unexpected reply from server (" + outcome.detail + ")\n");
    return std::nullopt;
  case Fault::no_reply:
    if (no_reply != nullptr) logs::report(no_reply);
    return std::nullopt;
  case Fault::no_connection:
  case Fault::send_failed:
  case Fault::unreadable_text:
    return std::nullopt;
  }
  if (check == Check::refusal && !passes(outcome.reply)) {
    report_refused(outcome.reply);
    return std::nullopt;
  }
  return std::move(outcome.reply);
}

enum class Offered { accepted, none_accepted, run_ended };

Offered offer_recipients(Client &client, const std::vector<std::string> &recipients) {
  bool accepted = false;
  for (const std::string &recipient : recipients) {
    auto reply =
        judged(client, command(client, "RCPT TO:" + recipient + "\r\n", client.limits.reply),
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
bool send_message(Client &client, const DeliveryRequest &request) {
  io::BlockReader spool = io::file_reader(request.spool);
  Outcome sent = send_text(client, spool);
  if (sent.fault == Fault::unreadable_text) {
    logs::report("Could not read " + request.spool_name + "\n");
    logs::report_system_error(request.spool_name, sent.error);
  }
  auto dot = judged(client, std::move(sent), kNoReply, Check::none);
  if (!dot) return false;
  // The server has taken the message: from here on no ending, not even a
  // signal, may tell the caller otherwise, or the caller sends it again.
  if (passes(*dot)) platform::set_ending_status(0);
  // The reply to "." has settled the outcome; QUIT gets a short wait only.
  quit(client);
  if (!passes(*dot)) {
    report_refused(*dot);
    return false;
  }
  return true;
}

bool run_dialogue(Client &client, const DeliveryRequest &request) {
  const TimeLimits &limits = client.limits;
  if (!judged(client, hello(client, request.helo_argument, request.submission), kNoHeloReply,
              Check::refusal)) {
    return false;
  }
  // RFC 6152: 8-bit text is declared where the server can take it; to one
  // that cannot, it goes as it always has.
  const char *body = request.eight_bit && client.offered.eight_bit_mime ? " BODY=8BITMIME" : "";
  if (!judged(client,
              command(client, "MAIL FROM:" + request.envelope_sender + body + "\r\n", limits.reply),
              nullptr, Check::refusal)) {
    return false;
  }
  switch (offer_recipients(client, *request.recipients)) {
  case Offered::run_ended:
    return false;
  case Offered::none_accepted:
    logs::report(kNobodyAccepted);
    // Closed here alone, at once and without QUIT: callers have long seen
    // this run end so, and servers take the closed connection for one.
    client.stream.reset();
    return false;
  case Offered::accepted:
    break;
  }
  // A refused DATA must not be followed by the message: its lines would
  // reach the server as commands.
  return judged(client, command(client, "DATA\r\n", limits.data_reply), kNoReply, Check::refusal) &&
         send_message(client, request);
}

} // namespace

bool deliver(const DeliveryRequest &request) {
  logs::debug_log("Sending message\n");
  Client client;
  client.limits = request.limits;
  Outcome greeting = open_session(client, request.server_host, request.port, request.submission);
  if (greeting.fault == Fault::tls_failed) {
    judged(client, std::move(greeting), nullptr, Check::none);
    return false;
  }
  if (greeting.fault == Fault::no_connection) {
    // The socket error text always ended with its own line feed: callers
    // have seen an empty line after this message ever since.
    logs::report(connection_failure(request.server_host, request.port, greeting.error) + "\n\n");
    return false;
  }
  if (greeting.fault == Fault::no_reply) {
    logs::report(kNoWelcome);
    return false;
  }
  return run_dialogue(client, request);
}

} // namespace smtp
