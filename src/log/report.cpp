#include "log/report.h"

#include "log/debug_log.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace logs {
namespace {

enum class Destination { standard_streams, debug_log, nowhere };
Destination destination = Destination::standard_streams;

// True when the message went elsewhere than to the standard streams.
bool diverted(std::string_view message) {
  if (destination == Destination::debug_log) debug_log(message);
  return destination != Destination::standard_streams;
}

} // namespace

void send_reports_to_debug_log(bool debug) {
  destination = debug ? Destination::debug_log : Destination::nowhere;
}

void report(std::string_view message) {
  if (diverted(message)) return;
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fflush(stdout);
}

void report_system_error(std::string_view name, int error_number) {
  const std::string line = std::string(name) + ": " + std::strerror(error_number) + "\n";
  if (diverted(line)) return;
  std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace logs
