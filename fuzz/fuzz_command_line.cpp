// The argument loop: whatever the arguments, recipients are only ever
// arguments not beginning with "-", each in angle brackets and in order; the
// list stops at 30001 with one message per argument refused; the server host
// holds at most 100 characters; every setting comes from an argument that
// sets it; and each option appended to the arguments does what it says and
// nothing else (a value-taking option takes the next argument, whatever it
// is; one at the end is ignored; an option that ends the loop ends it;
// "-bv" does not).
// The invocation record of any arguments is two lines, and an argument
// without control bytes appears there byte for byte.
//
// Input: the arguments separated by NUL bytes; a leading "MANY" puts 29990
// plain recipients before them, so that their recipients overflow the list.
#include "fuzz_support.h"
#include "intake/recipients.h"
#include "log/invocation_log.h"
#include "main/command_line.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

using fuzz::require;
using invocation::CommandLine;
using invocation::RunMode;

const std::string kDefaultSender = "someone@example.org";
const std::string kAppended = "appended@example.org";
// The options whose value the loop takes along and drops.
const char *const kIgnoredWithValue[] = {"-N", "-R", "-V", "-B", "-h", "-L",
                                         "-X", "-O", "-A", "-C", "-p"};

bool begins_with(const std::string &text, std::string_view prefix) {
  return std::string_view(text).substr(0, prefix.size()) == prefix;
}

std::vector<std::string> arguments_of(std::string_view input, std::size_t fill) {
  std::vector<std::string> args{"quillrun"};
  // Short enough to need no allocation of their own.
  args.insert(args.end(), fill, "f@example");
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\0', start);
    if (end == std::string_view::npos) end = input.size();
    args.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

// Some argument at or after the first satisfies `test`.
template <typename Test> bool any_argument(const std::vector<std::string> &args, Test test) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (test(i)) return true;
  }
  return false;
}

void check_recipients(const std::vector<std::string> &args, const CommandLine &line) {
  const auto &entries = line.recipients.entries;
  require(entries.size() <= intake::kMaxRecipients, "at most 30001 recipients");
  // The entries are, in order, bracketed arguments that do not begin with "-".
  std::size_t next = 0;
  for (std::size_t i = 1; i < args.size() && next < entries.size(); ++i) {
    if (!begins_with(args[i], "-") && intake::in_angle_brackets(args[i]) == entries[next]) ++next;
  }
  require(next == entries.size(), "recipients are plain arguments, in order");
  for (const std::string &entry : entries) {
    require(begins_with(entry, "<"), "a recipient begins with <");
  }
  // Messages: only the full-list one, and only once the list is full.
  const std::string_view full = intake::kArgumentListFull;
  require(line.messages.size() % full.size() == 0, "messages are whole full-list messages");
  for (std::size_t at = 0; at < line.messages.size(); at += full.size()) {
    require(line.messages.compare(at, full.size(), full) == 0, "only the full-list message");
  }
  require(line.messages.empty() || entries.size() == intake::kMaxRecipients,
          "the full-list message only with a full list");
}

void check_settings(const std::vector<std::string> &args, const CommandLine &line) {
  const auto &s = line.settings;
  require(s.server_host.size() <= 100, "the server host holds at most 100 characters");
  if (!s.server_host.empty()) {
    require(any_argument(args,
                         [&](std::size_t i) {
                           return i >= 2 && begins_with(args[i - 1], "-host") &&
                                  args[i].substr(0, 100) == s.server_host;
                         }),
            "the server host is the argument after -host");
  }
  // The value of a two-letter option: its rest, or the next argument.
  auto gives = [&](std::size_t i, std::string_view option, const std::string &value) {
    return begins_with(args[i], option) &&
           (args[i].substr(2) == value ||
            (args[i] == option && i + 1 < args.size() && args[i + 1] == value));
  };
  if (s.sender != kDefaultSender) {
    require(any_argument(args,
                         [&](std::size_t i) {
                           return gives(i, "-f", s.sender) || gives(i, "-r", s.sender);
                         }),
            "the sender comes from -f or -r");
  }
  if (!s.full_name.empty()) {
    require(any_argument(args, [&](std::size_t i) { return gives(i, "-F", s.full_name); }),
            "the full name comes from -F");
  }
  if (s.envelope_sender_override) {
    require(any_argument(args,
                         [&](std::size_t i) {
                           return begins_with(args[i], "-mailfrom") &&
                                  args[i].substr(9) == *s.envelope_sender_override;
                         }),
            "the envelope sender comes from -mailfrom");
  }
  if (s.extract_recipients) {
    require(any_argument(args, [&](std::size_t i) { return args[i] == "-t"; }), "-t sets -t");
  }
  if (s.ignore_dot) {
    require(any_argument(args, [&](std::size_t i) { return args[i] == "-i" || args[i] == "-oi"; }),
            "-i or -oi sets ignore-dot");
  }
  if (s.debug) {
    require(any_argument(args, [&](std::size_t i) { return begins_with(args[i], "-debug"); }),
            "-debug sets debug");
  }
  if (line.mode == RunMode::daemon) {
    require(any_argument(args, [&](std::size_t i) { return args[i] == "-bd"; }), "-bd");
  }
  if (line.mode == RunMode::verify) {
    require(any_argument(args, [&](std::size_t i) { return args[i] == "-bv"; }), "-bv");
  }
}

} // namespace

// Everything the loop gives.
bool same(const CommandLine &a, const CommandLine &b) {
  return a.mode == b.mode && a.settings.server_host == b.settings.server_host &&
         a.settings.sender == b.settings.sender && a.settings.full_name == b.settings.full_name &&
         a.settings.envelope_sender_override == b.settings.envelope_sender_override &&
         a.settings.extract_recipients == b.settings.extract_recipients &&
         a.settings.debug == b.settings.debug && a.settings.ignore_dot == b.settings.ignore_dot &&
         a.recipients.entries == b.recipients.entries && a.messages == b.messages;
}

CommandLine parse_with(std::vector<std::string> args, std::initializer_list<std::string> more) {
  args.insert(args.end(), more);
  return invocation::parse_command_line(args, kDefaultSender);
}

// Arguments appended after "-debug" (which takes the value an option at the
// end may be waiting for) change exactly what they say and nothing else,
// once the arguments before have not ended the loop.
void check_appended(std::vector<std::string> args, const CommandLine &line) {
  args.push_back("-debug");
  const CommandLine base = invocation::parse_command_line(args, kDefaultSender);
  // "-bv" reads on, as a delivery does: its sender and recipients follow.
  if (line.mode != RunMode::delivery && line.mode != RunMode::verify) {
    require(same(base, line), "nothing counts after an option that ends the loop");
    return;
  }
  require(base.mode == line.mode, "-debug ends nothing");
  require(base.recipients.entries == line.recipients.entries, "-debug adds no recipient");

  CommandLine expected = base;
  expected.recipients.entries.push_back("<" + kAppended + ">");
  require(same(parse_with(args, {kAppended}), expected), "a plain argument is a recipient");
  expected = base;
  expected.mode = RunMode::verify;
  expected.recipients.entries.push_back("<" + kAppended + ">");
  require(same(parse_with(args, {"-bv", kAppended}), expected), "-bv reads on");
  expected = base;
  expected.settings.sender = "v@example.org";
  require(same(parse_with(args, {"-f", "v@example.org"}), expected), "-f takes the next argument");
  require(same(parse_with(args, {"-fv@example.org"}), expected), "-f takes the rest");
  require(same(parse_with(args, {"-f", "-t", "-fv@example.org"}), expected),
          "-f takes an option as its value");
  require(same(parse_with(args, {"-r", "v@example.org"}), expected), "-r takes the next argument");
  require(same(parse_with(args, {"-rv@example.org"}), expected), "-r takes the rest");
  expected = base;
  expected.settings.full_name = "Full Name";
  require(same(parse_with(args, {"-F", "Full Name"}), expected), "-F takes the next argument");
  require(same(parse_with(args, {"-F", "-t", "-FFull Name"}), expected),
          "-F takes an option as its value, and the rest");
  expected = base;
  expected.recipients.entries.push_back("<" + kAppended + ">");
  for (const std::string option : kIgnoredWithValue) {
    require(same(parse_with(args, {option, "-t", option + "x", kAppended, option}), expected),
            "an ignored option takes the next argument or the rest, and at the end nothing");
  }
  expected = base;
  expected.settings.server_host = "relay.example.org";
  require(same(parse_with(args, {"-host", "relay.example.org"}), expected), "-host takes the next");
  require(same(parse_with(args, {"-hostname", "-bd", "-host", "relay.example.org"}), expected),
          "-host takes an option as its value");
  expected.settings.server_host = std::string(100, 'h');
  require(same(parse_with(args, {"-host", std::string(150, 'h')}), expected), "-host cut at 100");
  require(same(parse_with(args, {"-host"}), base), "-host at the end is ignored");
  require(same(parse_with(args, {"-f"}), base), "-f at the end is ignored");
  require(same(parse_with(args, {"-r"}), base), "-r at the end is ignored");
  require(same(parse_with(args, {"-F"}), base), "-F at the end is ignored");
  require(same(parse_with(args, {"-unknown", "--", "-"}), base), "other options are ignored");
  expected = base;
  expected.settings.envelope_sender_override = "<m@example.org>";
  require(same(parse_with(args, {"-mailfrom<m@example.org>"}), expected), "-mailfrom");
  expected = base;
  expected.settings.extract_recipients = true;
  require(same(parse_with(args, {"-t"}), expected), "-t");
  expected = base;
  expected.settings.ignore_dot = true;
  require(same(parse_with(args, {"-i"}), expected), "-i");
  require(same(parse_with(args, {"-oi"}), expected), "-oi");
  const std::pair<const char *, RunMode> enders[] = {{"-bd", RunMode::daemon},
                                                     {"-bq", RunMode::queue_reply},
                                                     {"-bi", RunMode::alias_noop},
                                                     {"-help", RunMode::help},
                                                     {"-version", RunMode::help}};
  for (const auto &[option, mode] : enders) {
    expected = base;
    expected.mode = mode;
    require(same(parse_with(args, {option, "-t", "-i", kAppended}), expected),
            "an option that ends the loop");
  }
}

bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

void check_record(const std::vector<std::string> &args) {
  const std::string record = logs::invocation_record("Mon Jan  1 09:05:00 2024\n", args[1], args);
  require(std::count(record.begin(), record.end(), '\n') == 2, "a record is two lines");
  for (const std::string &arg : args) {
    // " " sender " " arg " " "\n", with an empty sender.
    const std::string alone = logs::invocation_record("\n", "", {arg});
    const std::string_view written = std::string_view(alone).substr(3, alone.size() - 5);
    require(std::none_of(written.begin(), written.end(), is_control),
            "no control byte is written as it is");
    if (std::none_of(arg.begin(), arg.end(), is_control)) {
      require(written == arg, "an argument without control bytes appears byte for byte");
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view input = fuzz::as_text(data, size);
  const bool many = input.substr(0, 4) == "MANY";
  if (many) input.remove_prefix(4);
  const std::vector<std::string> args = arguments_of(input, 0);
  const CommandLine line = invocation::parse_command_line(args, kDefaultSender);
  check_recipients(args, line);
  check_settings(args, line);
  check_record(args);

  if (many) {
    // Behind 29990 plain recipients the arguments read the same, but only 11
    // more recipients fit; each one beyond is refused with its message.
    const std::size_t fill = intake::kMaxRecipients - 11;
    const CommandLine full =
        invocation::parse_command_line(arguments_of(input, fill), kDefaultSender);
    const auto &entries = line.recipients.entries;
    const std::size_t fitting = entries.size() < 11 ? entries.size() : 11;
    require(full.recipients.entries.size() == fill + fitting, "the list stops at 30001");
    require(std::equal(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(fitting),
                       full.recipients.entries.begin() + static_cast<std::ptrdiff_t>(fill)),
            "the recipients that fit come in order");
    std::string refused;
    for (std::size_t i = fitting; i < entries.size(); ++i) refused += intake::kArgumentListFull;
    require(full.messages == refused, "one message per refused recipient");
    require(full.mode == line.mode && full.settings.server_host == line.settings.server_host &&
                full.settings.sender == line.settings.sender,
            "the recipients before change no setting");
    return 0;
  }

  check_appended(args, line);
  return 0;
}
