// A command run for its output: how quillrun.ini's `password_command` gives
// the secret. The command never sees quillrun's standard input (that is the
// message) and never writes on its standard error (in "-bs" mode that
// belongs to the SMTP client at the other end, and must stay silent).
#pragma once

#include <string>

namespace platform {

struct CommandRun {
  std::string first_line; ///< its standard output up to the first LF (not kept)
  std::string error;      ///< why it could not be started, in words; empty when it ran
  bool timed_out = false; ///< it was ended when its time ran out
  int exit_status = 0;    ///< its exit status, when it exited by itself
  int signal = 0;         ///< POSIX: the signal that ended it; 0 when it exited
};

/// Runs `command` through the system's command interpreter (/bin/sh -c; on
/// Windows cmd.exe /d /s /c, without a console window), with standard
/// input and standard error on the null device and no other descriptor or
/// handle of quillrun's. Its standard output is read to its end, the rest
/// after the first line thrown away. When `timeout_ms` milliseconds have
/// passed it is killed (on POSIX with its whole process group).
CommandRun run_command(const std::string &command, int timeout_ms);

} // namespace platform
