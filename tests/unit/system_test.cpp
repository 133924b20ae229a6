#include "platform/system.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace platform {
namespace {

TEST(CreatePrivateFile, CreatesANewFileForWriting) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("spool");
  std::FILE *file = create_private_file(path);
  ASSERT_NE(file, nullptr);
  std::fputs("a\nb\n", file);
  std::fclose(file);
  EXPECT_EQ(unit::read_file(path), "a\nb\n");
#ifndef _WIN32
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
#endif
}

TEST(CreatePrivateFile, RefusesAnExistingFileAndLeavesItAlone) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("spool");
  unit::write_file(path, "someone else's");
  EXPECT_EQ(create_private_file(path), nullptr);
  EXPECT_EQ(unit::read_file(path), "someone else's");
}

#ifndef _WIN32
TEST(CreatePrivateFile, NeverFollowsAPlantedLink) {
  unit::ScratchDirectory scratch;
  const std::string missing = scratch.file("missing-target");
  const std::string existing = scratch.file("existing-target");
  unit::write_file(existing, "precious");
  std::filesystem::create_symlink(missing, scratch.file("link-to-missing"));
  std::filesystem::create_symlink(existing, scratch.file("link-to-existing"));

  EXPECT_EQ(create_private_file(scratch.file("link-to-missing")), nullptr);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(create_private_file(scratch.file("link-to-existing")), nullptr);
  EXPECT_EQ(unit::read_file(existing), "precious");
}
#endif

} // namespace
} // namespace platform
