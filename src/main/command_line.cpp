#include "main/command_line.h"

#include <string_view>

namespace invocation {
namespace {

// The server host is cut to its first 100 characters: a fixed limit kept on
// purpose, since callers' scripts and logs have always seen it so.
constexpr std::size_t kMaxServerHost = 100;
constexpr std::string_view kMailFrom = "-mailfrom";

bool begins_with(std::string_view arg, std::string_view option) {
  return arg.substr(0, option.size()) == option;
}

void add_recipient_argument(const std::string &arg, CommandLine &line) {
  if (!intake::add_recipient(line.recipients, intake::in_angle_brackets(arg))) {
    line.messages += intake::kArgumentListFull;
  }
}

} // namespace

CommandLine parse_command_line(const std::vector<std::string> &args, std::string default_sender) {
  CommandLine line;
  RunSettings &settings = line.settings;
  settings.sender = std::move(default_sender);
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string &arg = args[i];
    const bool has_next = i + 1 < args.size();
    // Order matters: "-host" before "-help", "-mailfrom" before "-f".
    if (arg == "-bd") {
      line.mode = RunMode::daemon;
      return line;
    } else if (arg == "-bs") {
      line.mode = RunMode::smtp_session;
      return line;
    } else if (begins_with(arg, "-host")) {
      // At the end of the line there is no host to take: the option is ignored.
      if (has_next) settings.server_host = args[++i].substr(0, kMaxServerHost);
    } else if (begins_with(arg, "-help") || begins_with(arg, "-version") || arg == "/?" ||
               arg == "--help" || arg == "--version") {
      // "/?" is Windows' way to ask, "--help" and "--version" GNU's.
      line.mode = RunMode::help;
      return line;
    } else if (begins_with(arg, "-debug")) {
      settings.debug = true;
    } else if (begins_with(arg, "-bq")) {
      line.mode = RunMode::queue_reply;
      return line;
    } else if (begins_with(arg, "-bi")) {
      line.mode = RunMode::alias_noop;
      return line;
    } else if (arg == "-t") {
      settings.extract_recipients = true;
    } else if (arg == "-i" || arg == "-oi") {
      // "-oi" is what mail readers and scripting libraries pass for "-i".
      settings.ignore_dot = true;
    } else if (begins_with(arg, kMailFrom)) {
      settings.envelope_sender_override = arg.substr(kMailFrom.size());
    } else if (begins_with(arg, "-f")) {
      if (arg.size() > 2) {
        settings.sender = arg.substr(2);
      } else if (has_next) {
        settings.sender = args[++i];
      }
    } else if (!begins_with(arg, "-")) {
      add_recipient_argument(arg, line);
    }
  }
  return line;
}

} // namespace invocation
