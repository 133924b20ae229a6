#include "smtp/body.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace smtp
