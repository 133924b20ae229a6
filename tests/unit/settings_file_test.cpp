#include "platform/settings_file.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace platform {
namespace {

TEST(ReadRegularFile, ReadsARegularFileWholeAndNothingElse) {
  unit::ScratchDirectory scratch;
  const std::string config = scratch.file("tidewharf.ini");
  unit::write_file(config, "g_work x\n");
  struct Row {
    const char *name;
    std::string path;
    std::string text; ///< empty: not read
  };
  std::vector<Row> rows = {
      {"a regular file", config, "g_work x\n"},
      {"missing", scratch.file("missing"), ""},
      {"a directory", scratch.path.string(), ""},
  };
#ifndef _WIN32
  const std::string fifo = scratch.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = scratch.file("link");
  std::filesystem::create_symlink(config, link);
  rows.push_back({"a FIFO, never waited on", fifo, ""});
  // The mail server's configuration may be a link its administrator made.
  rows.push_back({"a link, followed", link, "g_work x\n"});
#endif
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const FileText file = read_regular_file(row.path, Contents::settings);
    EXPECT_EQ(file.text, row.text);
    EXPECT_EQ(file.error.empty(), !row.text.empty()) << file.error;
  }
}

#ifndef _WIN32
TEST(ReadRegularFile, TellsWhoElseMayReachTheFileAndLeavesAnExposedSecretUnread) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("secret");
  unit::write_file(path, "pass\n");
  struct Row {
    mode_t mode;
    Exposure exposure;
    std::string secret_text;
  };
  const std::vector<Row> rows = {
      {0640, Exposure::owner_only, "pass\n"},
      {0644, Exposure::read_by_others, ""},
      {0620, Exposure::written_by_others, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.mode);
    ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
    const FileText settings = read_regular_file(path, Contents::settings);
    EXPECT_EQ(settings.exposure, row.exposure);
    EXPECT_EQ(settings.text, "pass\n");
    const FileText secret = read_regular_file(path, Contents::secret);
    EXPECT_EQ(secret.exposure, row.exposure);
    EXPECT_EQ(secret.text, row.secret_text);
  }
}
#endif

} // namespace
} // namespace platform
