// The command line: options, recipient arguments and the run mode they give.
#pragma once

#include "intake/recipients.h"

#include <optional>
#include <string>
#include <vector>

namespace invocation {

enum class RunMode {
  delivery,     ///< read standard input, deliver one message
  queue_reply,  ///< "-bq": print the queue line
  alias_noop,   ///< "-bi": nothing to do
  help,         ///< "-help", "-version"
  daemon,       ///< "-bd": pid file, then idle for ever
  smtp_session, ///< "-bs": SMTP on standard input and output, relayed to the server
  verify,       ///< "-bv": the sender and recipients checked with the server, nothing sent
};

struct RunSettings {
  std::string server_host;                             ///< empty: the machine's own host name
  std::string sender;                                  ///< the sender address
  std::string full_name;                               ///< "-F"; empty: none
  std::optional<std::string> envelope_sender_override; ///< "-mailfrom", may be empty
  bool extract_recipients = false;                     ///< header-extraction mode
  bool debug = false;
  bool ignore_dot = false;
};

struct CommandLine {
  RunMode mode = RunMode::delivery;
  RunSettings settings;
  intake::RecipientList recipients;
  std::string messages; ///< for standard output, printed after the loop
};

/// Reads `args` (the program name first) from left to right, each argument
/// tested against the options in a fixed order, the first match deciding;
/// stops at an option that ends the run at once. The sender starts as
/// `default_sender`.
CommandLine parse_command_line(const std::vector<std::string> &args, std::string default_sender);

} // namespace invocation
