#include "log/outcome_log.h"

#include "log/invocation_log.h"
#include "platform/named_file.h"

#include <cstdio>

namespace logs {
namespace {

std::string word(const std::string &text, const char *absent) {
  return text.empty() ? absent : escaped(text);
}

std::string quoted(const std::string &text) {
  std::string inside;
  for (char c : escaped(text)) inside += c == '"' ? std::string("\\x22") : std::string(1, c);
  return "\"" + inside + "\"";
}

// The run has one thread: gmtime's shared result is safe here.
std::string iso_time(std::time_t time) {
  const std::tm *utc = std::gmtime(&time);
  char text[32] = "-";
  if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

} // namespace

std::string outcome_line(const MessageOutcome &outcome) {
  std::string line = iso_time(outcome.time) + " server=" + escaped(outcome.server) + ":" +
                     std::to_string(outcome.port) + " tls=" + word(outcome.tls, "none") +
                     " user=" + word(outcome.user, "none") + " from=" + word(outcome.sender, "-");
  for (const RecipientVerdict &verdict : outcome.recipients) {
    line += " rcpt=" + escaped(verdict.address) + ":" +
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
  std::FILE *file = platform::open_log_file(path.c_str());
  if (file == nullptr) return;
  const std::string line = platform::log_lines(outcome_line(outcome));
  // One write, so that the lines of runs appending at once do not interleave.
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

} // namespace logs
