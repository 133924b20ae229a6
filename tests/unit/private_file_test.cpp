#include "platform/private_file.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(CreatePrivateFile, IsWrittenAndReadBackThroughTheOneHandle) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("spool");
  std::FILE *file = create_private_file(path);
  ASSERT_NE(file, nullptr);
  const std::string bytes("a\r\nb\x1a\nc\n", 9);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  ASSERT_EQ(std::fflush(file), 0);
  EXPECT_TRUE(fs::exists(path)) << "the name stays while the run lasts";
  std::rewind(file);
  std::string read(bytes.size() + 1, '\0');
  read.resize(std::fread(read.data(), 1, read.size(), file));
  EXPECT_EQ(read, bytes);
#ifndef _WIN32
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
#endif
  remove_private_file(path, file);
  EXPECT_FALSE(fs::exists(path));
}

TEST(CreatePrivateFile, RefusesAnExistingFileAndLeavesItAlone) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("spool");
  unit::write_file(path, "someone else's");
  EXPECT_EQ(create_private_file(path), nullptr);
  EXPECT_EQ(unit::read_file(path), "someone else's");
}

#ifdef _WIN32
TEST(CreatePrivateFile, IsGoneWhenItsHandleClosesHoweverTheProcessEnds) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("spool");
  std::FILE *file = create_private_file(path);
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_FALSE(fs::exists(path));
}
#else
TEST(CreatePrivateFile, NeverFollowsAPlantedLink) {
  unit::ScratchDirectory scratch;
  const std::string missing = scratch.file("missing-target");
  const std::string existing = scratch.file("existing-target");
  unit::write_file(existing, "precious");
  fs::create_symlink(missing, scratch.file("link-to-missing"));
  fs::create_symlink(existing, scratch.file("link-to-existing"));

  EXPECT_EQ(create_private_file(scratch.file("link-to-missing")), nullptr);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(create_private_file(scratch.file("link-to-existing")), nullptr);
  EXPECT_EQ(unit::read_file(existing), "precious");
}

TEST(EndRunOnInterrupt, EverySignalThatWouldEndTheRunRemovesTheFileAndExitsWithTheEndingStatus) {
  struct Row {
    int signal;
    int ending_status; ///< 0 once the server has taken the message
  };
  const Row rows[] = {{SIGINT, 1},   {SIGTERM, 1}, {SIGHUP, 1},  {SIGQUIT, 1}, {SIGUSR1, 1},
                      {SIGUSR2, 1},  {SIGALRM, 1}, {SIGXCPU, 1}, {SIGPROF, 1}, {SIGRTMIN, 1},
                      {SIGRTMAX, 1}, {SIGTERM, 0}, {SIGHUP, 0}};
  for (const Row &row : rows) {
    unit::ScratchDirectory scratch;
    const std::string path = scratch.file("spool");
    EXPECT_EXIT(
        {
          end_run_on_interrupt();
          create_private_file(path);
          if (row.ending_status == 0) set_ending_status(0);
          std::raise(row.signal);
        },
        testing::ExitedWithCode(row.ending_status), "");
    EXPECT_FALSE(fs::exists(path)) << "signal " << row.signal;
  }
}
#endif

TEST(AbandonRun, RemovesTheFileAndExitsWithStatusOne) {
  unit::ScratchDirectory scratch("quillrun-unit-abandon-run");
  const std::string path = scratch.file("spool");
  EXPECT_EXIT(
      {
        create_private_file(path);
        abandon_run();
      },
      testing::ExitedWithCode(1), "");
  EXPECT_FALSE(fs::exists(path));
}

} // namespace
} // namespace platform
