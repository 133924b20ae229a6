#include "main/command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace invocation {
namespace {

using Args = std::vector<std::string>;

// What the loop ended with, naming only what differs from a plain delivery
// run by "alice" with no recipient.
std::string outcome(const Args &after_program_name) {
  Args args{"quillrun"};
  args.insert(args.end(), after_program_name.begin(), after_program_name.end());
  CommandLine line = parse_command_line(args, "alice");
  const RunSettings &set = line.settings;
  static const std::map<RunMode, std::string> modes{
      {RunMode::delivery, "delivery"}, {RunMode::queue_reply, "queue"},
      {RunMode::alias_noop, "alias"},  {RunMode::help, "help"},
      {RunMode::daemon, "daemon"},     {RunMode::smtp_session, "session"},
      {RunMode::verify, "verify"}};
  std::string text = modes.at(line.mode);
  if (!set.server_host.empty()) text += " host=" + set.server_host;
  if (set.sender != "alice") text += " sender=" + set.sender;
  if (!set.full_name.empty()) text += " name=" + set.full_name;
  if (set.envelope_sender_override) text += " override=" + *set.envelope_sender_override;
  if (set.extract_recipients) text += " -t";
  if (set.ignore_dot) text += " -i";
  if (set.debug) text += " debug";
  for (const std::string &entry : line.recipients.entries) text += " " + entry;
  return text + line.messages;
}

struct Row {
  Args args;
  std::string outcome;
};

void check(const std::vector<Row> &rows) {
  for (const Row &row : rows) {
    std::string trace;
    for (const std::string &arg : row.args) trace += "[" + arg + "]";
    SCOPED_TRACE(trace);
    EXPECT_EQ(outcome(row.args), row.outcome);
  }
}

TEST(CommandLine, BeginsWithOptionsAlsoMatchLongerArguments) {
  check({{{"-host", "Mail.Example"}, "delivery host=Mail.Example"},
         {{"-hostname", "h"}, "delivery host=h"},
         {{"-help"}, "help"},
         {{"-helpme"}, "help"},
         {{"-version"}, "help"},
         {{"-versions"}, "help"},
         {{"-hel"}, "delivery"},
         {{"-debug"}, "delivery debug"},
         {{"-debugging"}, "delivery debug"},
         {{"-bq"}, "queue"},
         {{"-bqx"}, "queue"},
         {{"-bi"}, "alias"},
         {{"-bix"}, "alias"},
         {{"-from"}, "delivery sender=rom"},
         {{"-mailfrom<m@x>"}, "delivery override=<m@x>"}});
}

TEST(CommandLine, EqualsOptionsMatchOnlyExactly) {
  check({{{"-bd"}, "daemon"},
         {{"-bdx"}, "delivery"},
         {{"-bs"}, "session"},
         {{"-bsx"}, "delivery"},
         {{"-bv"}, "verify"},
         {{"-bvx"}, "delivery"},
         {{"/?"}, "help"},
         {{"--help"}, "help"},
         {{"--version"}, "help"},
         {{"--helpme"}, "delivery"},
         {{"/?x"}, "delivery </?x>"},
         {{"-t"}, "delivery -t"},
         {{"-tx"}, "delivery"},
         {{"-i"}, "delivery -i"},
         {{"-oi"}, "delivery -i"},
         {{"-ix"}, "delivery"},
         {{"-oix"}, "delivery"}});
}

// "-bv" reads on: its sender and recipients follow, and a later mode
// that ends the loop still ends it.
TEST(CommandLine, VerifyTakesTheSenderAndRecipientsAfterIt) {
  check({{{"-bv", "-f", "me@x", "a@x", "b@y"}, "verify sender=me@x <a@x> <b@y>"},
         {{"a@x", "-bv"}, "verify <a@x>"},
         {{"-bv", "-bs"}, "session"},
         {{"-bv", "-bq"}, "queue"}});
}

TEST(CommandLine, UnknownOptionsAreIgnoredAndConsumeNothing) {
  check({{{"-v", "-oem", "-odb", "-", "--", "-?"}, "delivery"}, {{"-v", "x@y"}, "delivery <x@y>"}});
}

// The row of each option gives a value separate, then one attached, and ends
// with the option and no value; the recipient between shows what was taken.
TEST(CommandLine, SendmailOptionsWithValuesConsumeThem) {
  check({{{"-F", "John Smith", "a@x", "-F"}, "delivery name=John Smith <a@x>"},
         {{"-FJohn", "a@x", "-F"}, "delivery name=John <a@x>"},
         {{"-F", "-t"}, "delivery name=-t"},
         {{"-r", "joe@x", "a@x", "-r"}, "delivery sender=joe@x <a@x>"},
         {{"-rjoe@x", "a@x"}, "delivery sender=joe@x <a@x>"},
         {{"-fa", "-r", "b"}, "delivery sender=b"},
         {{"-rb", "-fa"}, "delivery sender=a"},
         {{"-N", "failure,delay", "-Nnever", "a@x", "-N"}, "delivery <a@x>"},
         {{"-R", "hdrs", "-Rfull", "a@x", "-R"}, "delivery <a@x>"},
         {{"-V", "envid", "-Venvid", "a@x", "-V"}, "delivery <a@x>"},
         {{"-B", "8BITMIME", "-B7BIT", "a@x", "-B"}, "delivery <a@x>"},
         {{"-h", "17", "-h17", "a@x", "-h"}, "delivery <a@x>"},
         {{"-L", "tag", "-Ltag", "a@x", "-L"}, "delivery <a@x>"},
         {{"-X", "log", "-Xlog", "a@x", "-X"}, "delivery <a@x>"},
         {{"-O", "Timeout=1", "-OTimeout=1", "a@x", "-O"}, "delivery <a@x>"},
         {{"-A", "m", "-Ac", "a@x", "-A"}, "delivery <a@x>"},
         {{"-C", "cf", "-Ccf", "a@x", "-C"}, "delivery <a@x>"},
         {{"-p", "smtp", "-psmtp", "a@x", "-p"}, "delivery <a@x>"},
         {{"-N", "-bd"}, "delivery"}});
}

TEST(CommandLine, ConsumedValuesAreTakenUnchanged) {
  const std::string h150(150, 'h');
  check({{{"-host", "-bd"}, "delivery host=-bd"},
         {{"-host", "-help"}, "delivery host=-help"},
         {{"-host", h150}, "delivery host=" + h150.substr(0, 100)},
         {{"-host"}, "delivery"},
         {{"-host", "a", "-host", "b"}, "delivery host=b"},
         {{"-fbob@x"}, "delivery sender=bob@x"},
         {{"-f", "bob@x"}, "delivery sender=bob@x"},
         {{"-f", ""}, "delivery sender="},
         {{"-f", "-t"}, "delivery sender=-t"},
         {{"-f"}, "delivery"},
         {{"-f", h150}, "delivery sender=" + h150},
         {{"-fa", "-f", "b"}, "delivery sender=b"},
         {{"-mailfrom", "m@x"}, "delivery override= <m@x>"},
         {{"-mailfroma@x", "-mailfrom"}, "delivery override="}});
}

TEST(CommandLine, RecipientArgumentsAreKeptWholeInBrackets) {
  check({{{"a@x"}, "delivery <a@x>"},
         {{""}, "delivery <>"},
         {{"a@x,b@y"}, "delivery <a@x,b@y>"},
         {{" a b "}, "delivery < a b >"},
         {{"<x>"}, "delivery <x>"},
         {{"<x"}, "delivery <x"},
         {{"a", "a"}, "delivery <a> <a>"},
         {{"a", "-t", "b"}, "delivery -t <a> <b>"}});
}

TEST(CommandLine, RunEndingOptionsStopTheLoopWhereTheyStand) {
  check({{{"-bd", "-help"}, "daemon"},
         {{"-help", "-bd"}, "help"},
         {{"-debug", "a", "-bq", "b", "-t"}, "queue debug <a>"},
         {{"-bi", "-host", "h"}, "alias"},
         {{"-debug", "a", "-bs", "b"}, "session debug <a>"},
         {{"-host", "-bs", "/?"}, "help host=-bs"}});
}

TEST(CommandLine, ProgramNameIsNeverAnOption) {
  EXPECT_EQ(parse_command_line({"-bd"}, "alice").mode, RunMode::delivery);
}

TEST(CommandLine, ArgumentsBeyondTheCapAreDroppedWithOneMessageEach) {
  Args args{"quillrun"};
  for (int i = 0; i < 30003; ++i) args.push_back("r" + std::to_string(i));
  CommandLine line = parse_command_line(args, "alice");
  ASSERT_EQ(line.recipients.entries.size(), 30001u);
  EXPECT_EQ(line.recipients.entries.back(), "<r30000>");
  EXPECT_EQ(line.messages, "FATAL ERROR, TOO MANY RECIPIENTS\nFATAL ERROR, TOO MANY RECIPIENTS\n");
  EXPECT_EQ(line.mode, RunMode::delivery);
}

} // namespace
} // namespace invocation
