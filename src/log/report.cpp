#include "log/report.h"

#include "log/debug_log.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace logs {
namespace {

bool to_debug_log = false;
std::string last_message;

// True when the message went to the debug log instead of the standard
// streams (which drops it outside debug mode).
bool diverted(std::string_view message) {
  if (to_debug_log) debug_log(message);
  return to_debug_log;
}

} // namespace

void send_reports_to_debug_log() { to_debug_log = true; }

void report(std::string_view message) {
  std::string_view shown = message.substr(0, message.find_last_not_of('\n') + 1);
  if (!shown.empty()) last_message = shown;
  remark(message);
}

void remark(std::string_view message) {
  if (diverted(message)) return;
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fflush(stdout);
}

std::string last_report() { return last_message; }

void report_system_error(std::string_view name, int error_number) {
  const std::string line = std::string(name) + ": " + std::strerror(error_number) + "\n";
  if (diverted(line)) return;
  std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace logs
