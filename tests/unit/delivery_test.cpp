// The piped run's dialogue over a server in memory: each row a server's
// answers, then what the run printed, whether it delivered, and every byte
// the server got.
#include "smtp/delivery.h"

#include "log/report.h"
#include "platform/private_file.h"
#include "scripted_server.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace smtp {
namespace {

using unit::kClose;
using unit::kReset;

const std::string kHelo = "HELO x.org\r\n";
const std::string kOpening = kHelo + "MAIL FROM:<me@x.org>\r\n";
const std::string kData = "DATA\r\n";
const std::string kMessage = "Subject: s\r\n\r\nhi\r\n.\r\n";
const std::string kQuit = "QUIT\r\n";
const std::string kNoReply = "-ERR Unable to read response from server\n";
const std::string kNoHelo = "-ERR Unable to read helo response from SMTP server\n";
const std::string kNobody = "Failed to send message to any users\n";
const std::string kUnexpected = "-ERR Unexpected reply from server ";

std::string rcpt(std::initializer_list<const char *> addresses) {
  std::string lines;
  for (const char *address : addresses) lines += "RCPT TO:<" + std::string(address) + ">\r\n";
  return lines;
}

const std::string kFull = kOpening + rcpt({"a@b"}) + kData + kMessage + kQuit;

struct Row {
  const char *name;
  unit::Script changes; ///< over the default script
  std::string printed;
  bool delivered;
  std::string raw;
  std::vector<std::string> recipients = {"<a@b>"};
  std::string spool = "Subject: s\n\nhi\n";
};

// A reply of `bytes` bytes that goes on line after line, then ends.
std::string endless(const std::string &line, std::size_t bytes, const std::string &last) {
  std::string reply;
  while (reply.size() < bytes) reply += line;
  return reply + last;
}

DeliveryRequest request_of(const std::vector<std::string> &recipients, std::FILE *spool) {
  return {.server_host = "Mail.Example",
          .port = 25,
          .helo_argument = "x.org",
          .envelope_sender = "<me@x.org>",
          .recipients = &recipients,
          .spool = spool,
          .spool_name = "/tmp/spool",
          .eight_bit = false,
          .submission = {}};
}

// Runs `row`, checks it, and gives the server for more checks.
unit::ScriptedServer expect_row(const Row &row) {
  SCOPED_TRACE(row.name);
  unit::ScriptedServer server{{unit::script_with(row.changes)}};
  Client client = server.client();
  std::FILE *spool = unit::file_holding(row.spool);
  EXPECT_NE(spool, nullptr);
  const DeliveryRequest request = request_of(row.recipients, spool);
  testing::internal::CaptureStdout();
  const bool delivered = deliver(client, request).delivered;
  // A delivered message sets the process's ending status; later tests
  // begin from the status a run begins with.
  platform::set_ending_status(1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), row.printed);
  EXPECT_EQ(delivered, row.delivered);
  EXPECT_EQ(server.raw(), row.raw);
  std::fclose(spool);
  return server;
}

TEST(Deliver, EveryRefusalEndsTheRunWithItsMessage) {
  const std::vector<Row> rows = {
      {"no greeting",
       {{"greeting", {{kClose}}}},
       "-ERR Unable to read welcome from SMTP server\n",
       false,
       ""},
      {"HELO refused",
       {{"HELO", {{"501 bad helo\r\n"}}}},
       "-ERR Invalid smtp response (501 bad helo)\n",
       false,
       kHelo},
      {"HELO refused shows its first line",
       {{"HELO", {{"501-first\r\n501 second\r\n"}}}},
       "-ERR Invalid smtp response (501-first)\n",
       false,
       kHelo},
      {"MAIL refused",
       {{"MAIL", {{"553 no such sender\r\n"}}}},
       "-ERR Invalid smtp response (553 no such sender)\n",
       false,
       kOpening},
      // Closed at once without QUIT, as callers have long seen it.
      {"the only recipient refused",
       {{"RCPT", {{"550 no such user\r\n"}}}},
       "Recipient refused <a@b> (550 no such user)\n" + kNobody,
       false,
       kOpening + rcpt({"a@b"})},
      {"every recipient refused is told of",
       {{"RCPT", {{"550 unknown\r\n"}, {"452 full\r\n"}}}},
       "Recipient refused <a@b> (550 unknown)\nRecipient refused <c@d> (452 full)\n" + kNobody,
       false,
       kOpening + rcpt({"a@b", "c@d"}),
       {"<a@b>", "<c@d>"}},
      {"a refused DATA sends no message",
       {{"DATA", {{"554 no valid recipients\r\n"}}}},
       "-ERR Invalid smtp response (554 no valid recipients)\n",
       false,
       kOpening + rcpt({"a@b"}) + kData},
  };
  for (const Row &row : rows) expect_row(row);
}

TEST(Deliver, ReplyCodesAbove400RefuseAndOnly250AcceptsARecipient) {
  const std::vector<Row> rows = {
      {"a greeting of 554 passes", {{"greeting", {{"554 go away\r\n"}}}}, "", true, kFull},
      {"HELO 400 passes", {{"HELO", {{"400 hmm\r\n"}}}}, "", true, kFull},
      {"HELO 401 refuses",
       {{"HELO", {{"401 hmm\r\n"}}}},
       "-ERR Invalid smtp response (401 hmm)\n",
       false,
       kHelo},
      {"a code after blanks counts",
       {{"HELO", {{"  501 odd\r\n"}}}},
       "-ERR Invalid smtp response (  501 odd)\n",
       false,
       kHelo},
      {"replies of text alone pass",
       {{"HELO", {{"hello there\r\n"}}}, {"MAIL", {{"fine\r\n"}}}},
       "",
       true,
       kFull},
      {"RCPT 251 is no acceptance",
       {{"RCPT", {{"251 will forward\r\n"}}}},
       "Recipient refused <a@b> (251 will forward)\n" + kNobody,
       false,
       kOpening + rcpt({"a@b"})},
      {"RCPT 550 then 250 delivers",
       {{"RCPT", {{"550 no\r\n"}, {"250 ok\r\n"}}}},
       "Recipient refused <a@b> (550 no)\n",
       true,
       kOpening + rcpt({"a@b", "c@d"}) + kData + kMessage + kQuit,
       {"<a@b>", "<c@d>"}},
      // The server then reads the message as commands and answers none of them.
      {"DATA 400: the message follows", {{"DATA", {{"400 odd\r\n"}}}}, "", true, kFull},
      {"\".\" 400 passes", {{"DOT", {{"400 odd\r\n"}}}}, "", true, kFull},
      {"\".\" refused, then QUIT",
       {{"DOT", {{"552-too big\r\n552 really\r\n"}}}},
       "-ERR Invalid smtp response (552-too big)\n",
       false,
       kFull},
  };
  for (const Row &row : rows) expect_row(row);
}

TEST(Deliver, RepliesInPiecesAndOverSeveralLinesKeepTheDialogueInStep) {
  const std::vector<Row> rows = {
      {"greeting split in a line",
       {{"greeting", {{"220 e2e", ".test ready\r\n"}}}, {"RCPT", {{"550 no\r\n"}}}},
       "Recipient refused <a@b> (550 no)\n" + kNobody,
       false,
       kOpening + rcpt({"a@b"})},
      {"greeting lines in two pieces",
       {{"greeting", {{"220-e2e.test\r\n", "220 ready\r\n"}}},
        {"MAIL", {{"550 sender refused\r\n"}}}},
       "-ERR Invalid smtp response (550 sender refused)\n",
       false,
       kOpening},
      {"multi-line replies in pieces",
       {{"HELO", {{"250-a\r\n", "250 b\r\n"}}},
        {"MAIL", {{"250-c\r\n", "250 d\r\n"}}},
        {"RCPT", {{"550-no\r\n", "550 really\r\n"}, {"250-ok\r\n250 fine\r\n"}}},
        {"DATA", {{"354-x\r\n", "354 y\r\n"}}},
        {"DOT", {{"250-q\r\n", "250 z\r\n"}}}},
       "Recipient refused <a@b> (550-no)\n",
       true,
       kOpening + rcpt({"a@b", "c@d"}) + kData + kMessage + kQuit,
       {"<a@b>", "<c@d>"}},
  };
  for (const Row &row : rows) expect_row(row);
}

TEST(Deliver, AServerThatBreaksOffEndsTheRunAndAnAcceptedMessageStands) {
  // More than one block of text, so that a send meets the closed server.
  std::string big = "Subject: s\n\n";
  while (big.size() < 200 * 1000) big += std::string(79, 'x') + "\n";
  const std::vector<Row> rows = {
      {"closes after the greeting", {{"HELO", {{kClose}}}}, kNoHelo, false, kHelo},
      // A missing reply to MAIL FROM has never been told of.
      {"closes after HELO", {{"MAIL", {{kClose}}}}, "", false, kOpening},
      {"resets after HELO", {{"MAIL", {{kReset}}}}, "", false, kOpening},
      {"closes after MAIL FROM", {{"RCPT", {{kClose}}}}, kNoReply, false, kOpening + rcpt({"a@b"})},
      {"closes after the first RCPT",
       {{"RCPT", {{"550 no\r\n"}, {kClose}}}},
       "Recipient refused <a@b> (550 no)\n" + kNoReply,
       false,
       kOpening + rcpt({"a@b", "c@d"}),
       {"<a@b>", "<c@d>", "<e@f>"}},
      {"closes after the last RCPT",
       {{"DATA", {{kClose}}}},
       kNoReply,
       false,
       kOpening + rcpt({"a@b", "c@d"}) + kData,
       {"<a@b>", "<c@d>"}},
      {"closes after its 354",
       {{"DATA", {{"354 go\r\n", kClose}}}},
       kNoReply,
       false,
       kOpening + rcpt({"a@b"}) + kData},
      // The text cannot be sent whole: nothing more is told.
      {"closes in the message",
       {{"DATA", {{"354 go\r\n", kClose}}}},
       "",
       false,
       kOpening + rcpt({"a@b"}) + kData,
       {"<a@b>"},
       big},
      {"closes after \".\"",
       {{"DOT", {{kClose}}}},
       kNoReply,
       false,
       kOpening + rcpt({"a@b"}) + kData + kMessage},
      {"closes after taking the message", {{"QUIT", {{kClose}}}}, "", true, kFull},
  };
  for (const Row &row : rows) expect_row(row);
}

// The outcome log's error= is the line that ended a failed run: a refused
// recipient, after which the run went on, never is.
TEST(Deliver, ARefusedRecipientIsNoLineThatEndedTheRun) {
  std::string big = "Subject: s\n\n";
  while (big.size() < 200 * 1000) big += std::string(79, 'x') + "\n";
  expect_row({"a refused recipient, then a close in the message",
              {{"RCPT", {{"550 no\r\n"}, {"250 ok\r\n"}}}, {"DATA", {{"354 go\r\n", kClose}}}},
              "Recipient refused <a@b> (550 no)\n",
              false,
              kOpening + rcpt({"a@b", "c@d"}) + kData,
              {"<a@b>", "<c@d>"},
              big});
  EXPECT_NE(logs::last_report(), "Recipient refused <a@b> (550 no)");
}

TEST(Deliver, ATlsFaultIsToldAtWhateverStepItBreaksTheDialogue) {
  const std::string tls = "-ERR TLS with Mail.Example failed: the server asked to renegotiate\n";
  const std::vector<Row> rows = {
      // Where a missing reply says nothing, a broken TLS stream says why.
      {"before the reply to MAIL",
       {{"MAIL", {{unit::tls_fault("the server asked to renegotiate")}}}},
       tls,
       false,
       kOpening},
      {"before the reply to \".\"",
       {{"DOT", {{unit::tls_fault("the server asked to renegotiate")}}}},
       tls,
       false,
       kOpening + rcpt({"a@b"}) + kData + kMessage},
  };
  for (const Row &row : rows) expect_row(row);
}

TEST(Deliver, RepliesNoServerShouldSend) {
  const std::vector<Row> rows = {
      {"a reply over a megabyte",
       {{"HELO", {{endless("250-" + std::string(60, 'x') + "\r\n", 1200 * 1000, "250 ok\r\n")}}}},
       "",
       true,
       kFull},
      {"a refusal over a megabyte shows its first 64 KiB",
       {{"HELO", {{"501 " + std::string(1200 * 1000, 'x') + "\r\n"}}}},
       "-ERR Invalid smtp response (501 " + std::string(65536 - 4, 'x') + ")\n",
       false,
       kHelo},
      {"NUL bytes cut the reply shown",
       {{"HELO", {{std::string("250 o\0k\r\n", 9)}}},
        {"MAIL", {{std::string("550 no\0 such\r\n", 14)}}}},
       "-ERR Invalid smtp response (550 no)\n",
       false,
       kOpening},
      {"a greeting without line feed, then the close",
       {{"greeting", {{"220 no line feed", kClose}}}},
       kNoHelo,
       false,
       ""},
      // Answering the next command with a reply nobody asked for would put
      // every later reply one command late: QUIT goes instead.
      {"a second greeting line in the same send",
       {{"greeting", {{"220 a\r\n220 b\r\n"}}}},
       kUnexpected + "(220 b)\n",
       false,
       kQuit},
      {"an empty line after the greeting",
       {{"greeting", {{"220 a\r\n\r\n"}}}},
       kUnexpected + "()\n",
       false,
       kQuit},
      {"a second HELO reply line in the same send",
       {{"HELO", {{"250 ok\r\n250 again\r\n"}}}},
       kUnexpected + "(250 again)\n",
       false,
       kHelo + kQuit},
  };
  for (const Row &row : rows) expect_row(row);
}

TEST(Deliver, TheReplyToQuitIsAwaitedThirtySecondsOnceTheMessageIsTaken) {
  const unit::ScriptedServer server =
      expect_row({"silent after QUIT", {{"QUIT", {}}}, "", true, kFull});
  const std::vector<int> &waits = server.connections.front()->idle_waits;
  ASSERT_EQ(waits.size(), 1u) << "one wait, for the reply to QUIT";
  EXPECT_GT(waits.front(), 29 * 1000);
  EXPECT_LE(waits.front(), 30 * 1000);
}

TEST(Deliver, NoConnectionIsToldWithTheSocketErrorAndAnEmptyLine) {
  unit::ScriptedServer server{{unit::default_script()}, 10061};
  Client client = server.client();
  const std::vector<std::string> recipients = {"<a@b>"};
  DeliveryRequest request = request_of(recipients, nullptr);
  request.port = 65561;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(deliver(client, request).delivered);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Could not connect to SMTP server mail.example 65561 () Connection Refused\n\n");
}

} // namespace
} // namespace smtp
