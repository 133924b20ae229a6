// A command run for its output: how quillrun.ini's `password_command` gives
// the secret. The command never sees quillrun's standard input (that is the
// message) and never writes on its standard error (in "-bs" mode that
// belongs to the SMTP client at the other end, and must stay silent).
#pragma once

#include "platform/settings_file.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

/// The most of the first line kept: one byte more than any secret may hold,
/// so that a longer one is told apart.
inline constexpr std::size_t kMaxFirstLine = kSecretLimit + 1;

/// The first line of an output that arrives in blocks.
struct FirstLine {
  std::string text;   ///< up to its LF (not kept), at most kMaxFirstLine bytes
  bool ended = false; ///< the LF has come, or its most: nothing more is taken
};

/// Takes the next block of output into `line`; what goes beyond its LF or
/// its most is dropped.
void take_output(FirstLine &line, std::string_view block);

struct CommandRun {
  std::string first_line; ///< its standard output up to the first LF (not kept), at most
                          ///< kMaxFirstLine bytes
  std::string error;      ///< why it could not be started, in words; empty when it ran
  bool timed_out = false; ///< it was ended when its time ran out
  int exit_status = 0;    ///< its exit status, when it exited by itself
  int signal = 0;         ///< POSIX: the signal that ended it; 0 when it exited
};

/// Runs `command` through the system's command interpreter (/bin/sh -c; on
/// Windows cmd.exe /d /s /c, without a console window), with standard
/// input and standard error on the null device and no other descriptor or
/// handle of quillrun's. Its standard output is read to its end, or until
/// the command has exited and what was waiting of its first line has been
/// read (a process it started may keep the output open), the rest after the
/// first line thrown away. When `timeout_ms` milliseconds have passed,
/// however much it writes, it is killed with every process it started (its
/// process group on POSIX, its job on Windows); what it leaves running when
/// it exits by itself goes on.
CommandRun run_command(const std::string &command, int timeout_ms);

} // namespace platform
