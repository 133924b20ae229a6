#include "intake/copy_message.h"

#include "test_files.h"
#include "wine.h"

#include <gtest/gtest.h>

#include <string>

namespace intake {
namespace {

const RewriteOptions kOptions{false, false, false, "<me@h.example>", "<r@x>"};

TEST(CopyMessage, WritesTheRewrittenMessageAndClosesTheSpoolFile) {
  unit::ScratchDirectory scratch;
  const std::string spool_name = scratch.file("spool");
  std::FILE *input = unit::file_holding("Subject: s\r\nBcc: b@x\r\n\r\nline\r\n.\r\nafter\r\n");
  std::FILE *spool = std::fopen(spool_name.c_str(), "wb");
  ASSERT_NE(input, nullptr);
  ASSERT_NE(spool, nullptr);
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::copied);
  EXPECT_EQ(unit::read_file(spool_name), "Subject: s\nFrom: <me@h.example>\nTo: <r@x>\n\nline\n");
  std::fclose(input);
}

TEST(CopyMessage, AReadErrorIsAnOutcomeOfItsOwn) {
  if (unit::running_under_wine()) GTEST_SKIP() << unit::kWineFreadOnWriteOnlyStream;
  unit::ScratchDirectory scratch;
  std::FILE *input = std::fopen(scratch.file("in").c_str(), "wb");
  std::FILE *spool = std::fopen(scratch.file("spool").c_str(), "wb");
  ASSERT_NE(input, nullptr);
  ASSERT_NE(spool, nullptr);
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::read_failed);
  std::fclose(input);
}

TEST(CopyMessage, ASpoolFileThatRefusesWritesIsAnOutcomeOfItsOwn) {
  unit::ScratchDirectory scratch;
  const std::string spool_name = scratch.file("spool");
  unit::write_file(spool_name, "");
  std::FILE *input = unit::file_holding("Subject: s\n\nbody\n");
  std::FILE *spool = std::fopen(spool_name.c_str(), "rb");
  ASSERT_NE(input, nullptr);
  ASSERT_NE(spool, nullptr);
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::write_failed);
  std::fclose(input);
}

TEST(CopyMessage, AFailureAtFlushIsAWriteFailure) {
  std::FILE *spool = std::fopen("/dev/full", "wb");
  if (spool == nullptr) GTEST_SKIP() << "no /dev/full here";
  std::FILE *input = unit::file_holding("");
  ASSERT_NE(input, nullptr);
  RecipientList list;
  EXPECT_EQ(copy_message(input, spool, kOptions, list), CopyOutcome::write_failed);
  std::fclose(input);
}

} // namespace
} // namespace intake
