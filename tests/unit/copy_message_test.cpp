#include "intake/copy_message.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace intake {
namespace {

const RewriteOptions kOptions{false, false, "<me@h.example>", "<r@x>"};

// An input of `bytes`, given `step` bytes per read.
io::BlockReader input_of(std::string bytes, std::size_t step = io::kBlockSize) {
  return io::BlockReader{[bytes = std::move(bytes), at = std::size_t{0},
                          step](char *buffer, std::size_t capacity) mutable -> long {
    std::size_t count = std::min({step, capacity, bytes.size() - at});
    bytes.copy(buffer, count, at);
    at += count;
    return static_cast<long>(count);
  }};
}

std::string rest_of(std::FILE *file) {
  std::string bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    bytes.append(buffer, n);
  return bytes;
}

TEST(CopyMessage, LeavesTheRewrittenMessageInTheSpoolFileReadyToSendFromItsStart) {
  std::FILE *spool = std::tmpfile();
  ASSERT_NE(spool, nullptr);
  io::BlockReader input = input_of("Subject: s\r\nBcc: b@x\r\n\r\nline\r\n.\r\nafter\r\n", 5);
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::copied);
  EXPECT_EQ(rest_of(spool), "Subject: s\nFrom: <me@h.example>\nTo: <r@x>\n\nline\n");
  std::fclose(spool);
}

TEST(CopyMessage, LeavesWhatFollowsTheDotLineUnconsumed) {
  std::FILE *spool = std::tmpfile();
  ASSERT_NE(spool, nullptr);
  io::BlockReader input = input_of("S: s\n\nbody\n.\r\nnext message\n");
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::copied);
  EXPECT_EQ(io::unconsumed(input), "next message\n");
  std::fclose(spool);
}

TEST(CopyMessage, AReadErrorIsAnOutcomeOfItsOwn) {
  std::FILE *spool = std::tmpfile();
  ASSERT_NE(spool, nullptr);
  io::BlockReader input{[](char *, std::size_t) -> long {
    errno = EIO;
    return -1;
  }};
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::read_failed);
  std::fclose(spool);
}

TEST(CopyMessage, ASpoolFileThatRefusesWritesIsAnOutcomeOfItsOwn) {
  unit::ScratchDirectory scratch;
  const std::string spool_name = scratch.file("spool");
  unit::write_file(spool_name, "");
  std::FILE *spool = std::fopen(spool_name.c_str(), "rb");
  ASSERT_NE(spool, nullptr);
  io::BlockReader input = input_of("Subject: s\n\nbody\n");
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::write_failed);
  std::fclose(spool);
}

TEST(CopyMessage, AFailureAtFlushIsAWriteFailure) {
  std::FILE *spool = std::fopen("/dev/full", "wb");
  if (spool == nullptr) GTEST_SKIP() << "no /dev/full here";
  io::BlockReader input = input_of("");
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::write_failed);
  std::fclose(spool);
}

TEST(CopyMessage, AHeaderLineOverTheLimitRefusesTheMessage) {
  std::FILE *spool = std::tmpfile();
  ASSERT_NE(spool, nullptr);
  io::BlockReader input =
      input_of("Subject: s\nX-Long: " + std::string(kMaxHeldHeaderLine, 'x') + "\n\nbody\n");
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::header_line_too_long);
  std::fclose(spool);
}

} // namespace
} // namespace intake
