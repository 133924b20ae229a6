// Messages for the user: on standard output, each printed the moment it
// arises and flushed, so that a run cut short during a long wait has shown
// every message it met.
#pragma once

#include <string>
#include <string_view>

namespace logs {

/// From now on the messages go to the debug log in debug mode, and nowhere
/// otherwise: standard output and error are another protocol's ("-bs").
void send_reports_to_debug_log();

/// Prints `message` (which brings its own line feed) on standard output.
void report(std::string_view message);

/// The last message printed in this run, without its line feeds; empty
/// when none was.
std::string last_report();

/// Prints "NAME: reason" for the system error `error_number` on standard
/// error, as perror does.
void report_system_error(std::string_view name, int error_number);

} // namespace logs
