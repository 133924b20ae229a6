#include "smtp/delivery.h"

#include "log/debug_log.h"
#include "log/report.h"
#include "platform/private_file.h"
#include "smtp/judgement.h"

namespace smtp {
namespace {

constexpr const char *kNobodyAccepted = "Failed to send message to any users\n";

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
    if (accepts_recipient(*reply)) {
      accepted = true;
    } else {
      logs::remark(verdict("Recipient", false, recipient, *reply));
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
    report_refusal(*dot);
    return false;
  }
  return true;
}

bool run_dialogue(Client &client, const DeliveryRequest &request, Handover &handover) {
  const TimeLimits &limits = client.limits;
  // A secret renewed in the login is this run's alone: it connects once.
  Submission submission = request.submission;
  Opening opening = open_submission(client, request.helo_argument, submission);
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
