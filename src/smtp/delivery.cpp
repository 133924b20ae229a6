#include "smtp/delivery.h"

#include "log/debug_log.h"
#include "log/report.h"
#include "platform/private_file.h"
#include "smtp/fault_text.h"

#include <optional>

namespace smtp {
namespace {

constexpr const char *kNobodyAccepted = "Failed to send message to any users\n";

// The acceptance rules of the piped run, kept on purpose since servers and
// callers have long relied on their leniency: a greeting of any code opens
// the dialogue; a reply to HELO, MAIL FROM, DATA or "." passes up to the
// code 400 itself, and so does one without a number (code 0); a recipient
// counts as accepted with exactly 250. A missing reply to MAIL FROM has
// never been told of, nor a text that could not be sent whole: the run
// just ends with status 1.
constexpr int kHighestPassingCode = 400;
constexpr int kRecipientAccepted = 250;

bool passes(const Reply &reply) { return reply.code <= kHighestPassingCode; }

void report_error(const std::string &words) { logs::report("-ERR " + words + "\n"); }

// The step whose reply is judged, where the piped run's words depend on it.
enum class Step { greeting, helo, mail, other };

Awaited awaited_at(Step step) {
  if (step == Step::greeting) return Awaited::welcome;
  if (step == Step::helo) return Awaited::helo;
  return Awaited::response;
}

void report_fault(const Client &client, const Outcome &outcome, Step step) {
  switch (outcome.fault) {
  case Fault::none:
  case Fault::send_failed:
    return;
  case Fault::no_reply:
    if (step == Step::mail) return;
    break;
  case Fault::no_connection:
    // The socket error text always ended with its own line feed: callers
    // have seen an empty line after this message ever since.
    logs::report(fault_text(client, outcome) + "\n\n");
    return;
  case Fault::unreadable_text:
    logs::report(fault_text(client, outcome) + "\n");
    logs::report_system_error(outcome.detail, outcome.error);
    return;
  default:
    break;
  }
  report_error(fault_text(client, outcome, awaited_at(step)));
}

enum class Check { refusal, none };

// The reply when the run goes on after this step. Nothing, after the step's
// message, when it ends here: a fault, or with Check::refusal a reply that
// refuses the step.
std::optional<Reply> judged(const Client &client, Outcome outcome, Step step, Check check) {
  if (outcome.fault != Fault::none) {
    report_fault(client, outcome, step);
    return std::nullopt;
  }
  if (check == Check::refusal && !passes(outcome.reply)) {
    report_error(invalid_response(first_line(outcome.reply)));
    return std::nullopt;
  }
  return std::move(outcome.reply);
}

enum class Offered { accepted, none_accepted, run_ended };

Offered offer_recipients(Client &client, const std::vector<std::string> &recipients,
                         Handover &handover) {
  bool accepted = false;
  for (const std::string &recipient : recipients) {
    auto reply =
        judged(client, command(client, "RCPT TO:" + recipient + "\r\n", client.limits.reply),
               Step::other, Check::none);
    if (!reply) return Offered::run_ended;
    handover.verdicts.push_back(first_line(*reply));
    if (reply->code == kRecipientAccepted) {
      accepted = true;
    } else {
      logs::report("Recipient refused " + recipient + " (" + first_line(*reply) + ")\n");
    }
  }
  return accepted ? Offered::accepted : Offered::none_accepted;
}

// The message after an accepted DATA, then "." and QUIT.
bool send_message(Client &client, const DeliveryRequest &request, Handover &handover) {
  io::BlockReader spool = io::file_reader(request.spool);
  auto dot = judged(client, send_text(client, spool, request.spool_name), Step::other, Check::none);
  if (!dot) return false;
  handover.final_reply = first_line(*dot);
  // The server has taken the message: from here on no ending, not even a
  // signal, may tell the caller otherwise, or the caller sends it again.
  if (passes(*dot)) platform::set_ending_status(0);
  // The reply to "." has settled the outcome; QUIT gets a short wait only.
  quit(client);
  if (!passes(*dot)) {
    report_error(invalid_response(first_line(*dot)));
    return false;
  }
  return true;
}

bool run_dialogue(Client &client, const DeliveryRequest &request, Handover &handover) {
  const TimeLimits &limits = client.limits;
  Opening opening = open_submission(client, request.helo_argument, request.submission);
  if (!judged(client, std::move(opening.outcome), Step::helo, Check::refusal)) return false;
  // RFC 6152: 8-bit text is declared where the server can take it; to one
  // that cannot, it goes as it always has.
  const char *body = request.eight_bit && opening.offered.eight_bit_mime ? " BODY=8BITMIME" : "";
  if (!judged(client,
              command(client, "MAIL FROM:" + request.envelope_sender + body + "\r\n", limits.reply),
              Step::mail, Check::refusal)) {
    return false;
  }
  switch (offer_recipients(client, *request.recipients, handover)) {
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
  return judged(client, command(client, "DATA\r\n", limits.data_reply), Step::other,
                Check::refusal) &&
         send_message(client, request, handover);
}

} // namespace

Handover deliver(Client &client, const DeliveryRequest &request) {
  logs::debug_log("Sending message\n");
  Handover handover;
  Outcome greeting = open_connection(client, request.server_host, request.port, request.submission);
  handover.delivered = judged(client, std::move(greeting), Step::greeting, Check::none) &&
                       run_dialogue(client, request, handover);
  return handover;
}

} // namespace smtp
