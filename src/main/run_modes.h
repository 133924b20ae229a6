// The run modes that answer at once, in place of the classic commands.
#pragma once

namespace invocation {

inline constexpr const char *kQueueReply = "Use: queuelet s\n";

/// Prints the help text.
void print_help();

/// Writes the pid file, prints the daemon line and sleeps for ever: it
/// never returns a status.
[[noreturn]] int run_fake_daemon();

} // namespace invocation
