#include "intake/header_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace intake {
namespace {

std::string s(std::size_t count, char c) { return std::string(count, c); }

TEST(HeaderFold, LinesBeyond998BreakAtABlankElseAfterACommaElseAt998) {
  struct Row {
    const char *name;
    std::string line;
    std::string folded;
  };
  const std::vector<Row> rows = {
      {"short line", "Subject: hi", "Subject: hi\n"},
      {"empty line", "", "\n"},
      {"exactly 998", s(998, 'x'), s(998, 'x') + "\n"},
      {"999 without blank or comma", s(999, 'x'), s(998, 'x') + "\n x\n"},
      {"last blank before 998", "X: " + s(991, 'a') + " " + s(20, 'b'),
       "X: " + s(991, 'a') + "\n " + s(20, 'b') + "\n"},
      {"blank as character 999", s(998, 'a') + " b", s(998, 'a') + "\n b\n"},
      {"blank only beyond 999", s(999, 'a') + " b", s(998, 'a') + "\n a b\n"},
      {"field name never alone on a line", "Subject: " + s(1000, 'x'),
       "Subject: " + s(989, 'x') + "\n " + s(11, 'x') + "\n"},
      {"tab kept at the start of the continuation", "X: " + s(994, 'a') + "\tb",
       "X: " + s(994, 'a') + "\n\tb\n"},
      {"comma when there is no blank", "X:" + s(600, 'a') + "," + s(600, 'b'),
       "X:" + s(600, 'a') + ",\n " + s(600, 'b') + "\n"},
      {"leading blank is no break", " " + s(1200, 'x'),
       " " + s(997, 'x') + "\n " + s(203, 'x') + "\n"},
      {"three lines", s(2500, 'x'), s(998, 'x') + "\n " + s(997, 'x') + "\n " + s(505, 'x') + "\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::string out = "kept\n";
    append_folded(row.line, out);
    EXPECT_EQ(out, "kept\n" + row.folded);
  }
}

} // namespace
} // namespace intake
