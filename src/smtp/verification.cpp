#include "smtp/verification.h"

#include "log/report.h"
#include "platform/net.h"
#include "platform/tls_facts.h"
#include "smtp/auth.h"
#include "smtp/judgement.h"
#include "text/ascii.h"

#include <optional>

namespace smtp {
namespace {

// The lines of "-bv", each one fact, all here.

std::string server_line(const Client &client) {
  return "Server: " + client.server + " port " + std::to_string(client.port) + ", address " +
         platform::address_text(client.address) + "\n";
}

std::string tls_lines(const platform::TlsFacts &tls, std::time_t now) {
  return "TLS: " + platform::protocol_name(tls.version) + ", " + tls.cipher + "\n" +
         "Certificate: " + platform::names_text(tls.names) + "; issued by " + tls.issuer +
         "; expires " + platform::expiry_text(tls.expires, now) + "\n";
}

// The server's words go to a person's terminal: none of its control bytes
// may move the cursor or start a line that looks like one of the check's.
std::string offers_line(const std::vector<std::string> &extensions) {
  std::string line = "Offers: ";
  for (const std::string &extension : extensions) {
    if (&extension != &extensions.front()) line += ", ";
    line += ascii::printable(extension);
  }
  return line + "\n";
}

std::string verdict_line(std::string_view role, bool accepted, std::string_view address,
                         const Reply &reply) {
  std::string line = verdict(role, accepted, address, reply);
  line.pop_back();
  return ascii::printable(std::move(line)) + "\n";
}

// The check promises that a delivery would go: a step counts as accepted
// only with a 2xx reply (RFC 5321 4.2.1), never by the piped run's
// leniency towards a 400 or a reply without a code.
bool accepted(const Reply &reply) { return reply_class(reply) == ReplyClass::positive_completion; }

std::string login_line(AuthMethod mechanism, const std::string &user, bool accepted) {
  return "Login: " + std::string(mechanism_name(mechanism)) + " as " + user +
         (accepted ? ", accepted\n" : ", refused\n");
}

// The login as open_submission left it: by which mechanism, as whom, and
// whether the server took it. Nothing when none was tried.
void report_login(const Submission &submission, const Opening &opening) {
  const Fault fault = opening.outcome.fault;
  if (submission.user.empty() || (fault != Fault::none && fault != Fault::login_refused)) return;
  if (auto mechanism = chosen_mechanism(submission.auth, opening.offered)) {
    logs::report(login_line(*mechanism, submission.user, fault == Fault::none));
  }
}

// A step the check cannot go on without. After its refusal QUIT still
// goes; after a fault nothing more.
bool passed(Client &client, Outcome outcome, Step step) {
  std::optional<Reply> reply = judged(client, std::move(outcome), step, Check::none);
  if (!reply) return false;
  if (accepted(*reply)) return true;
  report_refusal(*reply);
  quit(client);
  return false;
}

// MAIL FROM and each RCPT TO, their verdicts told, then RSET and QUIT.
bool check_addresses(Client &client, const VerificationRequest &request) {
  const auto limit = client.limits.reply;
  Outcome mail = command(client, "MAIL FROM:" + request.envelope_sender + "\r\n", limit);
  if (mail.fault == Fault::none) {
    logs::report(verdict_line("Sender", accepted(mail.reply), request.envelope_sender, mail.reply));
  }
  // Where a delivery has never told of a missing reply to MAIL FROM, the
  // check names the step that failed.
  if (!passed(client, std::move(mail), Step::other)) return false;
  bool every_one = true;
  for (const std::string &recipient : *request.recipients) {
    auto reply = judged(client, command(client, "RCPT TO:" + recipient + "\r\n", limit),
                        Step::other, Check::none);
    if (!reply) return false;
    const bool taken = accepts_recipient(*reply);
    logs::report(verdict_line("Recipient", taken, recipient, *reply));
    every_one = every_one && taken;
  }
  // RFC 5321 4.1.1.5: the mail transaction is abandoned; no text was sent.
  if (!passed(client, command(client, "RSET\r\n", limit), Step::other)) return false;
  quit(client);
  return every_one;
}

} // namespace

bool verify(Client &client, const VerificationRequest &request) {
  Outcome greeting = open_connection(client, request.server_host, request.port, request.submission);
  if (greeting.fault != Fault::no_connection) logs::report(server_line(client));
  // Implicit TLS is up before the greeting; STARTTLS comes in the opening.
  const bool tls_before = client.tls.has_value();
  if (tls_before) logs::report(tls_lines(*client.tls, request.now));
  if (!judged(client, std::move(greeting), Step::greeting, Check::none)) return false;
  // A secret renewed in the login is this run's alone: it connects once.
  Submission submission = request.submission;
  Opening opening = open_submission(client, request.helo_argument, submission);
  if (!tls_before && client.tls) logs::report(tls_lines(*client.tls, request.now));
  if (!opening.offered.extensions.empty()) logs::report(offers_line(opening.offered.extensions));
  report_login(request.submission, opening);
  return passed(client, std::move(opening.outcome), Step::helo) && check_addresses(client, request);
}

} // namespace smtp
