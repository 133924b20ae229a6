#include "main/command_line.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace invocation {
namespace {

// The server host is cut to its first 100 characters: a fixed limit kept on
// purpose, since callers' scripts and logs have always seen it so.
constexpr std::size_t kMaxServerHost = 100;
constexpr std::string_view kMailFrom = "-mailfrom";

// Sendmail options whose value quillrun has no use for: delivery status
// notifications (-N, -R, -V), body type, hop count, syslog tag, traffic log,
// option, submission mode, configuration file, protocol. Each takes its value
// along, so that no value ever becomes a recipient.
constexpr std::array<std::string_view, 11> kIgnoredWithValue = {"-N", "-R", "-V", "-B", "-h", "-L",
                                                                "-X", "-O", "-A", "-C", "-p"};

bool begins_with(std::string_view arg, std::string_view option) {
  return arg.substr(0, option.size()) == option;
}

bool takes_ignored_value(std::string_view arg) {
  return std::any_of(kIgnoredWithValue.begin(), kIgnoredWithValue.end(),
                     [&](std::string_view option) { return begins_with(arg, option); });
}

// The value of the two-letter option `args[i]`: the rest of that argument,
// or, when it has none, the whole next argument, which `i` then moves past.
// At the end of the line there is none.
std::optional<std::string> option_value(const std::vector<std::string> &args, std::size_t &i) {
  if (args[i].size() > 2) return args[i].substr(2);
  if (i + 1 < args.size()) return args[++i];
  return std::nullopt;
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
    // Order matters: "-host" and "-help" before "-h", "-mailfrom" before "-f".
    if (arg == "-bd") {
      line.mode = RunMode::daemon;
      return line;
    } else if (arg == "-bs") {
      line.mode = RunMode::smtp_session;
      return line;
    } else if (arg == "-bv") {
      // The sender and the recipients still follow.
      line.mode = RunMode::verify;
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
    } else if (begins_with(arg, "-f") || begins_with(arg, "-r")) {
      // "-r" is the older spelling of "-f" that shell scripts still use.
      if (auto value = option_value(args, i)) settings.sender = *value;
    } else if (begins_with(arg, "-F")) {
      if (auto value = option_value(args, i)) settings.full_name = *value;
    } else if (takes_ignored_value(arg)) {
      option_value(args, i);
    } else if (!begins_with(arg, "-")) {
      add_recipient_argument(arg, line);
    }
  }
  return line;
}

} // namespace invocation
