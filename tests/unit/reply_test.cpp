#include "smtp/reply.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace smtp {
namespace {

TEST(CompleteReplyLength, HyphenLinesContinueAReplyAndAnyOtherLineEndsIt) {
  struct Row {
    const char *name;
    std::string received;
    std::optional<std::size_t> length;
  };
  const std::vector<Row> rows = {
      {"nothing yet", "", std::nullopt},
      {"line without its LF", "220 ready", std::nullopt},
      {"one line", "220 ready\r\n", 11},
      {"bare LF", "220 ready\n", 10},
      {"multi-line", "250-a\r\n250-b\r\n250 c\r\n", 21},
      {"multi-line still open", "250-a\r\n250-b\r\n", std::nullopt},
      {"last line still arriving", "250-a\r\n250 b", std::nullopt},
      {"bytes after the reply kept", "220 a\r\n250 b\r\n", 7},
      {"text line ends a reply", "hello\r\n250 b\r\n", 7},
      {"text line after a hyphen line", "250-a\r\nhello\r\nmore", 14},
      {"two digits and hyphen", "25-x\r\n", 6},
      {"four digits", "2500-x\r\n", 8},
      {"code and hyphen alone", "250-\n250\n", 9},
      {"empty line", "\n220 x\n", 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(complete_reply_length(row.received), row.length);
  }
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
      {"", 0, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    Reply reply = make_reply(row.text);
    EXPECT_EQ(reply.text, row.text);
    EXPECT_EQ(reply.code, row.code);
    EXPECT_EQ(first_line(reply), row.first);
  }
}

} // namespace
} // namespace smtp
