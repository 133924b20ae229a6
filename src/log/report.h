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

/// Prints `message` as report() does, for what the run meets on its way
/// and goes on after (a recipient refused, a list already full), which
/// last_report() passes over.
void remark(std::string_view message);

/// The last message of report() in this run, without its line feeds: the
/// one that ended a run that failed. Empty when none was printed, as when
/// the run ended silently.
std::string last_report();

/// Prints "NAME: reason" for the system error `error_number` on standard
/// error, as perror does.
void report_system_error(std::string_view name, int error_number);

} // namespace logs
