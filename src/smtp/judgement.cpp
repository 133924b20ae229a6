#include "smtp/judgement.h"

#include "log/report.h"
#include "smtp/fault_text.h"

namespace smtp {
namespace {

// The acceptance rules of the piped run, kept on purpose since servers and
// callers have long relied on their leniency: a greeting of any code opens
// the dialogue; a reply to HELO, MAIL FROM, DATA or "." passes up to the
// code 400 itself, and so does one without a number (code 0); a recipient
// counts as accepted with exactly 250. A missing reply to MAIL FROM has
// never been told of, nor a text that could not be sent whole: the run
// just ends with status 1.
constexpr int kHighestPassingCode = 400;
constexpr int kRecipientAccepted = 250;

void report_error(const std::string &words) { logs::report("-ERR " + words + "\n"); }

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

} // namespace

bool passes(const Reply &reply) { return reply.code <= kHighestPassingCode; }

bool accepts_recipient(const Reply &reply) { return reply.code == kRecipientAccepted; }

std::string verdict(std::string_view role, bool accepted, std::string_view address,
                    const Reply &reply) {
  return std::string(role) + (accepted ? " accepted " : " refused ") + std::string(address) + " (" +
         first_line(reply) + ")\n";
}

void report_refusal(const Reply &reply) { report_error(invalid_response(first_line(reply))); }

std::optional<Reply> judged(const Client &client, Outcome outcome, Step step, Check check) {
  if (outcome.fault != Fault::none) {
    report_fault(client, outcome, step);
    return std::nullopt;
  }
  if (check == Check::refusal && !passes(outcome.reply)) {
    report_refusal(outcome.reply);
    return std::nullopt;
  }
  return std::move(outcome.reply);
}

} // namespace smtp
