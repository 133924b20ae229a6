#include "smtp_server/command.h"
#include "smtp_server/data_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace smtp_server {
namespace {

TEST(ParseCommand, TheVerbInAnyLetterCaseThenItsArgument) {
  struct Row {
    std::string line;
    Verb verb;
    std::string argument;
  };
  const std::vector<Row> rows = {
      {"HELO [127.0.0.1]", Verb::helo, "[127.0.0.1]"},
      {"ehlo  client.example", Verb::ehlo, "client.example"},
      {"Mail FROM:<a@b> SIZE=10", Verb::mail, "FROM:<a@b> SIZE=10"},
      {"rcpt TO:<c@d>", Verb::rcpt, "TO:<c@d>"},
      {"DATA", Verb::data, ""},
      {"rset", Verb::rset, ""},
      {"NOOP anything", Verb::noop, "anything"},
      {"QUIT", Verb::quit, ""},
      {"HELO", Verb::helo, ""},
      {"MAILFROM:<a@b>", Verb::other, ""},
      {"VRFY a", Verb::other, "a"},
      {"", Verb::other, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.line);
    Command command = parse_command(row.line);
    EXPECT_EQ(command.verb, row.verb);
    if (row.verb != Verb::other) {
      EXPECT_EQ(command.argument, row.argument);
    }
  }
}

TEST(ParsePath, AnAddressInAngleBracketsAndNothingThatCouldEndACommand) {
  struct Row {
    std::string argument;
    bool empty_allowed;
    std::optional<std::string> path;
  };
  const std::vector<Row> rows = {
      {"FROM:<a@b>", true, "<a@b>"},
      {"from: <a@b>", true, "<a@b>"},
      {"FROM:<a@b> BODY=8BITMIME SIZE=1", true, "<a@b>"},
      {"FROM:<>", true, "<>"},
      {"TO:<>", false, std::nullopt},
      {"TO:<postmaster>", false, "<postmaster>"},
      {"FROM:a@b", true, std::nullopt},
      {"FROM:<a@b", true, std::nullopt},
      {"FROM:<a b@c>", true, std::nullopt},
      {"FROM:<a<b@c>", true, std::nullopt},
      {"FROM:<a\x01@c>", true, std::nullopt},
      {"FROM:<a@b>x", true, std::nullopt},
      {"TO:<a@b>", true, std::nullopt}, // the keyword of MAIL is FROM:
      {"FROM:<" + std::string(497, 'a') + ">", true, "<" + std::string(497, 'a') + ">"},
      {"FROM:<" + std::string(498, 'a') + ">", true, std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.argument);
    const std::string_view keyword = row.argument.rfind("TO:", 0) == 0 ? "TO:" : "FROM:";
    EXPECT_EQ(parse_path(row.argument, row.empty_allowed ? "FROM:" : keyword, row.empty_allowed),
              row.path);
  }
}

// The text of `stream` up to its "." line, fed in pieces of `piece` bytes;
// and how much of the stream that took.
std::pair<std::string, std::size_t> text_of(std::string_view stream, std::size_t piece) {
  DataText state;
  std::string out;
  std::size_t used = 0;
  while (used < stream.size() && !state.ended) {
    used += take_data_text(stream.substr(used, piece), state, out);
  }
  return {state.ended ? out : out + "[cut short]", used};
}

TEST(TakeDataText, EndsAtTheDotLineAndTakesOffTheAddedDotsInPiecesOfAnySize) {
  struct Row {
    std::string stream;
    std::string text;
    std::size_t used;
  };
  const std::vector<Row> rows = {
      {"a\r\nb\r\n.\r\nMAIL", "a\r\nb\r\n", 9},
      {".\r\n", "", 3},
      {"a\n.\nQUIT\n", "a\n", 4},
      {"..\r\n...x\r\n.\r\n", ".\r\n..x\r\n", 13},
      {"a.\r\n .\r\n.x\r\n.\r\n", "a.\r\n .\r\nx\r\n", 15},
      {".\rx\r\n.\r\n", "\rx\r\n", 8},
      {"no end\r\n", "no end\r\n[cut short]", 8},
      {"no end\r\n.", "no end\r\n[cut short]", 9},
  };
  for (const Row &row : rows) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, row.stream.size()}) {
      SCOPED_TRACE(row.stream + " in pieces of " + std::to_string(piece));
      EXPECT_EQ(text_of(row.stream, piece), std::make_pair(row.text, row.used));
    }
  }
}

// A reader of `pieces`, one read each (a piece larger than the reader's
// block over several).
io::BlockReader reader_of(std::vector<std::string> pieces) {
  return {[pieces = std::move(pieces), piece = std::size_t{0},
           at = std::size_t{0}](char *buffer, std::size_t capacity) mutable -> long {
    if (piece == pieces.size()) return 0;
    const std::size_t count = std::min(capacity, pieces[piece].size() - at);
    pieces[piece].copy(buffer, count, at);
    at += count;
    if (at == pieces[piece].size()) ++piece, at = 0;
    return static_cast<long>(count);
  }};
}

std::string drained(io::BlockReader &reader) {
  std::string bytes;
  for (std::string_view got; !(got = io::unconsumed(reader)).empty();
       io::consume(reader, got.size())) {
    bytes += got;
  }
  return bytes;
}

TEST(DataTextReader, GivesTheTextUpToTheDotLineAndLeavesTheRestOfTheInput) {
  const std::string block(io::kBlockSize, 'x');
  struct Row {
    std::vector<std::string> pieces; // as the input's reads give them
    std::string text;
    std::string rest;
    int error;
  };
  const std::vector<Row> rows = {
      {{"a\r\n", ".", "\r\nQUIT\r\n"}, "a\r\n", "QUIT\r\n", 0},
      // A CR held back after a lone dot comes out with a whole block after it.
      {{".\r", block + "\r\n.\r\n"}, "\r" + block + "\r\n", "", 0},
      {{"cut ", "short"}, "cut short", "", EPIPE},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text.substr(0, 20));
    io::BlockReader input = reader_of(row.pieces);
    DataText state;
    io::BlockReader text = data_text_reader(input, state);
    EXPECT_EQ(drained(text), row.text);
    EXPECT_EQ(text.error, row.error);
    EXPECT_EQ(state.ended, row.error == 0);
    EXPECT_EQ(drained(input), row.rest);
  }
}

TEST(Declares8BitMime, ByTheBodyParameterAfterThePathInAnyLetterCase) {
  struct Row {
    std::string_view argument;
    bool declared;
  };
  const std::vector<Row> rows = {
      {"FROM:<a@b> BODY=8BITMIME", true},
      {"FROM:<a@b> SIZE=10 body=8bitmime", true},
      {"FROM:<a@b>", false},
      {"FROM:<a@b> BODY=7BIT", false},
      {"FROM:<a@b> XBODY=8BITMIME", false},
      {"FROM:<BODY=8BITMIME@b>", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.argument);
    EXPECT_EQ(declares_8bitmime(row.argument), row.declared);
  }
}

} // namespace
} // namespace smtp_server
