#include "platform/named_file.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

// Logs are text files: on Windows log_lines ends each line with CR LF.
#ifdef _WIN32
constexpr const char *kStoredLineEnd = "\r\n";
#else
constexpr const char *kStoredLineEnd = "\n";
#endif

void write_and_close(std::FILE *file, const char *text) {
  ASSERT_NE(file, nullptr);
  std::fputs(text, file);
  std::fclose(file);
}

TEST(NamedFiles, RegularFilesAreAppendedToOrEmptied) {
  unit::ScratchDirectory scratch;
  const std::string log = scratch.file("quillrun.log");
  unit::write_file(log, "earlier\n");
  write_and_close(open_log_file(log.c_str()), log_lines("later\n").c_str());
  EXPECT_EQ(unit::read_file(log), std::string("earlier\nlater") + kStoredLineEnd);

  const std::string pid = scratch.file("quillrun.pid");
  unit::write_file(pid, "123456789");
  write_and_close(open_pid_file(pid.c_str()), "42");
  EXPECT_EQ(unit::read_file(pid), "42");
}

#ifndef _WIN32
TEST(NamedFiles, ANewLogIsTheOwnersAlone) {
  unit::ScratchDirectory scratch;
  const std::string log = scratch.file("quillrun.debug");
  write_and_close(open_log_file(log.c_str()), "x");
  struct stat status {};
  ASSERT_EQ(stat(log.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(NamedFiles, ALinkOrAFifoInPlaceOfALogOrPidFileIsNeverUsedAndNeverWaitedOn) {
  unit::ScratchDirectory scratch;
  const std::string target = scratch.file("private");
  unit::write_file(target, "precious");
  const std::string link = scratch.file("link");
  fs::create_symlink(target, link);
  const std::string fifo = scratch.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  for (const std::string &path : {link, fifo}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(open_log_file(path.c_str()), nullptr);
    EXPECT_EQ(open_pid_file(path.c_str()), nullptr);
  }
  EXPECT_EQ(unit::read_file(target), "precious");
}
#endif

} // namespace
} // namespace platform
