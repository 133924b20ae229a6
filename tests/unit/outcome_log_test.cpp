#include "log/outcome_log.h"

#include "platform/named_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace logs {
namespace {

TEST(OutcomeLine, OneLineAFieldAValueThatNoReplyOrAddressCanBreak) {
  MessageOutcome delivered;
  delivered.time = 1796774400; // 2026-12-09 00:00:00 UTC
  delivered.server = "smtp.example.com";
  delivered.port = 587;
  delivered.tls = "TLSv1.3";
  delivered.user = "box@example.com";
  delivered.sender = "<a@example.com>";
  delivered.recipients = {{"<x@example.org>", "250 2.1.5 Ok"}, {"<y@example.org>", "550 5.1.1 No"}};
  delivered.size = 1234;
  delivered.final_reply = "250 2.0.0 Ok: queued as 4Fq2";
  delivered.status = 0;

  MessageOutcome refused;
  refused.time = 1796774400;
  refused.server = "mx";
  refused.port = 25;
  refused.recipients = {{"<x@example.org>", ""}};
  refused.failure = "-ERR Token request to login.test failed: invalid_grant: Bad Request";

  // A server's reply that tries to end the field, and the line, early.
  MessageOutcome forged = refused;
  forged.failure = "550 no\" status=0\nforged line";
  forged.sender = "<a\r\n@b>";
  // An address without "@" is taken whole: one that would end its field
  // and write a status of its own.
  MessageOutcome forged_address = refused;
  forged_address.recipients = {{"x>:\"250 ok\" status=0 a=\"", ""}};

  struct Row {
    const char *name;
    MessageOutcome outcome;
    std::string line;
  };
  const std::vector<Row> rows = {
      {"delivered over TLS with a login", delivered,
       "2026-12-09T00:00:00Z server=smtp.example.com:587 tls=TLSv1.3 user=box@example.com "
       "from=<a@example.com> rcpt=<x@example.org>:\"250 2.1.5 Ok\" rcpt=<y@example.org>:\"550 "
       "5.1.1 No\" size=1234 reply=\"250 2.0.0 Ok: queued as 4Fq2\" status=0\n"},
      {"ended before anything was sent", refused,
       "2026-12-09T00:00:00Z server=mx:25 tls=none user=none from=- rcpt=<x@example.org>:- "
       "size=- reply=- status=1 error=\"-ERR Token request to login.test failed: invalid_grant: "
       "Bad Request\"\n"},
      {"quotes and line ends in values", forged,
       "2026-12-09T00:00:00Z server=mx:25 tls=none user=none from=<a\\r\\n@b> "
       "rcpt=<x@example.org>:- "
       "size=- reply=- status=1 error=\"550 no\\x22 status=0\\nforged line\"\n"},
      {"blanks and quotes in an address", forged_address,
       "2026-12-09T00:00:00Z server=mx:25 tls=none user=none from=- "
       "rcpt=x>:\\x22250\\x20ok\\x22\\x20status=0\\x20a=\\x22:- size=- reply=- status=1 "
       "error=\"-ERR Token request to login.test failed: invalid_grant: Bad Request\"\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(outcome_line(row.outcome), row.line);
  }
}

TEST(LogLines, EachLineEndsOnceAsTheSystemsTextFilesDo) {
#ifdef _WIN32
  EXPECT_EQ(platform::log_lines("EHLO x\r\n250 ok\r\nSending message\n"),
            "EHLO x\r\n250 ok\r\nSending message\r\n");
#else
  EXPECT_EQ(platform::log_lines("EHLO x\r\n250 ok\r\nSending message\n"),
            "EHLO x\r\n250 ok\r\nSending message\n");
#endif
  EXPECT_EQ(platform::log_lines("a lone \r stays"), "a lone \r stays");
}

} // namespace
} // namespace logs
