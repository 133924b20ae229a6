#include "smtp/reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace smtp {
namespace {

// Feeds `received` in pieces of `step` bytes; the reply and how many bytes
// it took.
std::pair<Reply, std::size_t> assemble(std::string_view received, std::size_t step) {
  Reply reply;
  std::size_t taken = 0;
  for (std::size_t at = 0; at < received.size() && !reply.complete; at += step) {
    taken += take_reply_bytes(reply, received.substr(at, step));
  }
  return {reply, taken};
}

TEST(TakeReplyBytes, HyphenLinesContinueAReplyAndAnyOtherLineEndsIt) {
  struct Row {
    const char *name;
    std::string received;
    bool complete;
    std::size_t taken;
  };
  const std::vector<Row> rows = {
      {"nothing yet", "", false, 0},
      {"line without its LF", "220 ready", false, 9},
      {"one line", "220 ready\r\n", true, 11},
      {"bare LF", "220 ready\n", true, 10},
      {"multi-line", "250-a\r\n250-b\r\n250 c\r\n", true, 21},
      {"multi-line still open", "250-a\r\n250-b\r\n", false, 14},
      {"last line still arriving", "250-a\r\n250 b", false, 12},
      {"bytes after the reply left", "220 a\r\n250 b\r\n", true, 7},
      {"text line ends a reply", "hello\r\n250 b\r\n", true, 7},
      {"text line after a hyphen line", "250-a\r\nhello\r\nmore", true, 14},
      {"two digits and hyphen", "25-x\r\n", true, 6},
      {"four digits", "2500-x\r\n", true, 8},
      {"code and hyphen alone", "250-\n250\n", true, 9},
      {"empty line", "\n220 x\n", true, 1},
  };
  for (const Row &row : rows) {
    for (std::size_t step : {std::size_t{1}, std::size_t{3}, row.received.size() + 1}) {
      SCOPED_TRACE(std::string(row.name) + ", in pieces of " + std::to_string(step));
      auto [reply, taken] = assemble(row.received, step);
      EXPECT_EQ(reply.complete, row.complete);
      EXPECT_EQ(taken, row.taken);
      EXPECT_EQ(reply.text, row.received.substr(0, row.taken));
    }
  }
}

TEST(TakeReplyBytes, KeepsTheFirst64KiBAndCountsTheRest) {
  const std::string first = "250-" + std::string(100, 'f') + "\r\n";
  std::string received = first;
  while (received.size() < 3 * kMaxReplyKept) received += "250-more text of a long reply\r\n";
  received += "250 end\r\n";
  auto [reply, taken] = assemble(received, 1000);
  EXPECT_TRUE(reply.complete);
  EXPECT_EQ(taken, received.size());
  EXPECT_EQ(reply.text, received.substr(0, kMaxReplyKept));
  EXPECT_EQ(reply.dropped, received.size() - kMaxReplyKept);
  EXPECT_EQ(reply.code, 250);
  EXPECT_EQ(first_line(reply), first.substr(0, first.size() - 2));
}

TEST(Reply, CodeIsTheLeadingNumberAndFirstLineStopsAtCrLfOrNul) {
  struct Row {
    std::string text;
    int code;
    std::string first;
  };
  const std::vector<Row> rows = {
      {"554 no service\r\n", 554, "554 no service"},
      {"250-first\r\n250 second\r\n", 250, "250-first"},
      {"just text\n", 0, "just text"},
      {"  401 x\n", 401, "  401 x"},
      {"a\rb\nc", 0, "a"},
      {std::string("421 x\0y\r\n", 9), 421, "421 x"},
      {"354 cut short", 354, "354 cut short"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    Reply reply;
    take_reply_bytes(reply, row.text);
    if (!reply.complete) end_reply(reply);
    EXPECT_EQ(reply.code, row.code);
    EXPECT_EQ(first_line(reply), row.first);
  }
}

TEST(ReplyClass, TheFirstDigitOfAThreeDigitCodeFollowedByBlankHyphenOrLineEnd) {
  struct Row {
    std::string text;
    ReplyClass kind;
  };
  const std::vector<Row> rows = {
      {"250 ok\r\n", ReplyClass::positive_completion},
      {"250-first\r\n250 second\r\n", ReplyClass::positive_completion},
      {"354\r\n", ReplyClass::positive_intermediate},
      {"421 4.3.2 bye\r\n", ReplyClass::transient_negative},
      {"554 no service\r\n", ReplyClass::permanent_negative},
      {"just text\r\n", ReplyClass::malformed},
      {"600 x\r\n", ReplyClass::malformed},
      {"199 x\r\n", ReplyClass::malformed},
      {"25 x\r\n", ReplyClass::malformed},
      {"2500 x\r\n", ReplyClass::malformed},
      {" 250 x\r\n", ReplyClass::malformed},
      {"", ReplyClass::malformed},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    Reply reply;
    take_reply_bytes(reply, row.text);
    EXPECT_EQ(reply_class(reply), row.kind);
  }
}

} // namespace
} // namespace smtp
