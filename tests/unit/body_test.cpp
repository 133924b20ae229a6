#include "smtp/body.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace smtp {
namespace {

std::string s(std::size_t count, char c) { return std::string(count, c); }

// The wire form of `spool`, fed in pieces of `step` bytes.
std::string wire_form(std::string_view spool, std::size_t step) {
  WireState state;
  std::string wire;
  for (std::size_t at = 0; at < spool.size(); at += step) {
    append_wire_form(spool.substr(at, step), state, wire);
  }
  return wire;
}

TEST(WireForm, PiecesOf998DotStuffedEachWithCrLf) {
  struct Row {
    const char *name;
    std::string spool;
    std::string wire;
  };
  const std::vector<Row> rows = {
      {"empty line", "\n", "\r\n"},
      {"short lines", "abc\nd\n", "abc\r\nd\r\n"},
      {"lone dot", ".\n", "..\r\n"},
      {"leading dot", ".x\n", "..x\r\n"},
      {"dot elsewhere", "x.\n", "x.\r\n"},
      {"exactly 998", s(998, 'x') + "\n", s(998, 'x') + "\r\n"},
      {"999", s(999, 'x') + "\n", s(998, 'x') + "\r\nx\r\n"},
      {"1996", s(1996, 'x') + "\n", s(998, 'x') + "\r\n" + s(998, 'x') + "\r\n"},
      {"1997", s(1997, 'x') + "\n", s(998, 'x') + "\r\n" + s(998, 'x') + "\r\nx\r\n"},
      {"dot at the start of a later piece", s(998, 'a') + ".b\n", s(998, 'a') + "\r\n..b\r\n"},
      {"998 starting with a dot", "." + s(997, 'a') + "\n", ".." + s(997, 'a') + "\r\n"},
      {"a dot after a long line", s(1000, 'a') + "\n.\n", s(998, 'a') + "\r\naa\r\n..\r\n"},
  };
  for (const Row &row : rows) {
    for (std::size_t step : {std::size_t{1}, std::size_t{997}, row.spool.size()}) {
      SCOPED_TRACE(std::string(row.name) + ", in pieces of " + std::to_string(step));
      EXPECT_EQ(wire_form(row.spool, step), row.wire);
    }
  }
}

TEST(SendMessageBody, ASpoolFileThatCannotBeReadIsAReadFailure) {
  Client client;
  io::BlockReader spool{[](char *, std::size_t) -> long {
    errno = EIO;
    return -1;
  }};
  EXPECT_EQ(send_message_body(client, spool), BodyOutcome::read_failed);
  EXPECT_EQ(spool.error, EIO);
}

TEST(SendMessageBody, AClosedPeerIsASendFailureNotASignal) {
  unit::LoopbackConnection connection;
  connection.server_closes();
  Client client = connection.smtp_client();
  client.limits.send = std::chrono::milliseconds(5000);
  // More than any socket buffer takes, so that a send meets the closed end.
  std::string message;
  for (int line = 0; line < 200000; ++line) message += s(79, 'm') + "\n";
  io::BlockReader spool{
      [&message, at = std::size_t{0}](char *buffer, std::size_t capacity) mutable -> long {
        std::size_t count = std::min(capacity, message.size() - at);
        message.copy(buffer, count, at);
        at += count;
        return static_cast<long>(count);
      }};
  EXPECT_EQ(send_message_body(client, spool), BodyOutcome::send_failed);
}

} // namespace
} // namespace smtp
