#include "smtp/body.h"

#include "test_files.h"
#include "wine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace smtp {
namespace {

std::string s(std::size_t count, char c) { return std::string(count, c); }

std::vector<std::string> wire_lines(std::string_view line) {
  std::vector<std::string> lines;
  std::string wire;
  do {
    take_wire_piece(line, wire);
    lines.push_back(wire);
  } while (!line.empty());
  return lines;
}

TEST(WireLines, PiecesOf998DotStuffedEachWithCrLf) {
  struct Row {
    const char *name;
    std::string line;
    std::vector<std::string> wire;
  };
  const std::vector<Row> rows = {
      {"empty line", "", {"\r\n"}},
      {"short line", "abc", {"abc\r\n"}},
      {"lone dot", ".", {"..\r\n"}},
      {"leading dot", ".x", {"..x\r\n"}},
      {"dot elsewhere", "x.", {"x.\r\n"}},
      {"exactly 998", s(998, 'x'), {s(998, 'x') + "\r\n"}},
      {"999", s(999, 'x'), {s(998, 'x') + "\r\n", "x\r\n"}},
      {"1000", s(1000, 'x'), {s(998, 'x') + "\r\n", "xx\r\n"}},
      {"1996", s(1996, 'x'), {s(998, 'x') + "\r\n", s(998, 'x') + "\r\n"}},
      {"1997", s(1997, 'x'), {s(998, 'x') + "\r\n", s(998, 'x') + "\r\n", "x\r\n"}},
      {"dot at the start of a later piece", s(998, 'a') + ".b", {s(998, 'a') + "\r\n", "..b\r\n"}},
      {"998 starting with a dot", "." + s(997, 'a'), {".." + s(997, 'a') + "\r\n"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(wire_lines(row.line), row.wire);
  }
}

TEST(SendMessageBody, ASpoolFileThatCannotBeReadIsAReadFailure) {
  if (unit::running_under_wine()) GTEST_SKIP() << unit::kWineFreadOnWriteOnlyStream;
  unit::ScratchDirectory scratch;
  std::FILE *spool = std::fopen(scratch.file("spool").c_str(), "wb");
  ASSERT_NE(spool, nullptr);
  Session session;
  EXPECT_EQ(send_message_body(session, spool), BodyOutcome::read_failed);
  std::fclose(spool);
}

#ifndef _WIN32
TEST(SendMessageBody, AClosedPeerIsASendFailureNotASignal) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  close(pair[1]);
  std::FILE *spool = unit::file_holding("one\ntwo\n");
  ASSERT_NE(spool, nullptr);
  Session session;
  session.socket = pair[0];
  EXPECT_EQ(send_message_body(session, spool), BodyOutcome::send_failed);
  close(pair[0]);
  std::fclose(spool);
}
#endif

} // namespace
} // namespace smtp
