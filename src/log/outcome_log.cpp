#include "log/outcome_log.h"

#include "log/invocation_log.h"

namespace logs {
namespace {

// A value in its field, escaped as the invocation record's arguments are,
// a double quote as "\x22" and, outside quotes, a blank as "\x20": no
// value can end its field and begin another.
std::string field(const std::string &text, bool in_quotes) {
  std::string kept;
  for (char c : escaped(text)) {
    if (c == '"') {
      kept += "\\x22";
    } else if (c == ' ' && !in_quotes) {
      kept += "\\x20";
    } else {
      kept += c;
    }
  }
  return kept;
}

std::string word(const std::string &text, const char *absent) {
  return text.empty() ? absent : field(text, false);
}

std::string quoted(const std::string &text) { return "\"" + field(text, true) + "\""; }

// The run has one thread: gmtime's shared result is safe here.
std::string iso_time(std::time_t time) {
  const std::tm *utc = std::gmtime(&time);
  char text[32] = "-";
  if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

} // namespace

std::string outcome_line(const MessageOutcome &outcome) {
  std::string line = iso_time(outcome.time) + " server=" + field(outcome.server, false) + ":" +
                     std::to_string(outcome.port) + " tls=" + word(outcome.tls, "none") +
                     " user=" + word(outcome.user, "none") + " from=" + word(outcome.sender, "-");
  for (const RecipientVerdict &verdict : outcome.recipients) {
    line += " rcpt=" + field(verdict.address, false) + ":" +
            (verdict.reply.empty() ? std::string("-") : quoted(verdict.reply));
  }
  line += " size=" + (outcome.size < 0 ? std::string("-") : std::to_string(outcome.size));
  line +=
      " reply=" + (outcome.final_reply.empty() ? std::string("-") : quoted(outcome.final_reply));
  line += " status=" + std::to_string(outcome.status);
  if (!outcome.failure.empty()) line += " error=" + quoted(outcome.failure);
  return line + "\n";
}

void append_outcome(const std::string &path, const MessageOutcome &outcome) {
  append_record(path, outcome_line(outcome));
}

} // namespace logs
