#include "intake/line_reader.h"

#include "test_files.h"
#include "wine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace intake {
namespace {

std::vector<std::string> lines_of(std::FILE *file, bool &failed) {
  LineReader reader{file};
  std::vector<std::string> lines;
  for (std::string line; read_line(reader, line);) lines.push_back(line);
  failed = reader.failed;
  return lines;
}

TEST(LineReader, ReadsWholeLinesOfAnyLengthWithoutTheirLineFeed) {
  struct Row {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::string huge(200000, 'h');
  const std::vector<Row> rows = {
      {"empty input", "", {}},
      {"last line without LF", "a\nb", {"a", "b"}},
      {"empty lines", "\n\n", {"", ""}},
      {"CR kept for the rewriting", "a\r\n\r\n", {"a\r", "\r"}},
      {"line across many blocks", huge + "\nz\n", {huge, "z"}},
      {"499 characters make no extra line", std::string(499, 'x') + "\n", {std::string(499, 'x')}},
      {"control bytes kept", std::string("a\x1a\0b\n", 5), {std::string("a\x1a\0b", 4)}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::FILE *file = unit::file_holding(row.bytes);
    ASSERT_NE(file, nullptr);
    bool failed = true;
    EXPECT_EQ(lines_of(file, failed), row.lines);
    EXPECT_FALSE(failed);
    std::fclose(file);
  }
}

TEST(LineReader, AReadErrorIsNotTheEndOfInput) {
  if (unit::running_under_wine()) GTEST_SKIP() << unit::kWineFreadOnWriteOnlyStream;
  unit::ScratchDirectory scratch;
  std::FILE *write_only = std::fopen(scratch.file("w").c_str(), "wb");
  ASSERT_NE(write_only, nullptr);
  bool failed = false;
  EXPECT_TRUE(lines_of(write_only, failed).empty());
  EXPECT_TRUE(failed);
  std::fclose(write_only);
}

} // namespace
} // namespace intake
