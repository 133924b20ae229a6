#include "platform/settings_file.h"
#include "text/utf8.h"

#include "platform/system.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
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
  // A link the caller made, as the mail server's administrator may have.
  rows.push_back({"a link, followed", link, "g_work x\n"});
#endif
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const FileText file = read_regular_file(row.path, Contents::settings);
    EXPECT_EQ(file.text, row.text);
    EXPECT_EQ(file.error.empty(), !row.text.empty()) << file.error;
  }
}

TEST(ReplacePrivateFile, PutsTheTextInPlaceWholeForTheCallerAloneAndLeavesNothingElse) {
  unit::ScratchDirectory scratch;
  const std::string cache = scratch.file("token");
  const std::string elsewhere = scratch.file("elsewhere");
  unit::write_file(elsewhere, "another secret");
  struct Row {
    const char *name;
    std::string before; ///< "": nothing there; "link": a link to `elsewhere`
  };
  std::vector<Row> rows = {{"a new file", ""}, {"over an old one", "old record"}};
#ifndef _WIN32
  rows.push_back({"over a link: the link goes, its target stays", "link"});
#endif
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(cache);
    if (row.before == "link") {
      std::filesystem::create_symlink(elsewhere, cache);
    } else if (!row.before.empty()) {
      unit::write_file(cache, row.before);
    }
    ASSERT_EQ(replace_private_file(cache, "{\"record\":1}"), "");
    const FileText file = read_regular_file(cache, Contents::token_cache);
    EXPECT_EQ(file.text, "{\"record\":1}");
    EXPECT_EQ(file.exposure, Exposure::owner_only);
    EXPECT_EQ(unit::read_file(elsewhere), "another secret");
    // Nothing but the file and the link's old target: no new file left over.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path),
                            std::filesystem::directory_iterator()),
              2);
  }
  EXPECT_NE(replace_private_file(scratch.file("no-such-folder/token"), "x"), "");
  // Another run's new file under this run's process number (a run in
  // another PID namespace) is left alone.
  const std::string pid = std::to_string(process_id());
#ifdef _WIN32
  const std::string theirs = cache + "." + pid + ".new";
#else
  const std::string theirs = scratch.file(".token." + pid + ".new");
#endif
  unit::write_file(theirs, "another run's record");
  ASSERT_EQ(replace_private_file(cache, "{\"record\":2}"), "");
  EXPECT_EQ(unit::read_file(theirs), "another run's record");
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
    // Read whole when not judged, as the mail server's file is.
    const FileText settings = read_regular_file(path, Contents::mail_server_settings);
    EXPECT_EQ(settings.exposure, row.exposure);
    EXPECT_EQ(settings.text, "pass\n");
    const FileText secret = read_regular_file(path, Contents::secret);
    EXPECT_EQ(secret.exposure, row.exposure);
    EXPECT_EQ(secret.text, row.secret_text);
  }
}
#endif

TEST(ReadRegularFile, ReadsQuillrunIniAndASecretOnlyUpToTheirLimits) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("large");
  unit::write_file(path, std::string(kCertificatesLimit + 4096, 'x'));
  struct Row {
    Contents contents;
    std::size_t size;
  };
  std::vector<Row> rows = {
      {Contents::settings, kSettingsLimit + 1},
      {Contents::certificates, kCertificatesLimit + 1},
      {Contents::mail_server_settings, kCertificatesLimit + 4096},
  };
#ifndef _WIN32
  // On Windows the secret's rows are secret_test's, on a file closed to others.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  rows.push_back({Contents::secret, utf8::kByteOrderMark.size() + kSecretLimit + 1});
#endif
  for (const Row &row : rows) {
    SCOPED_TRACE(static_cast<int>(row.contents));
    const FileText file = read_regular_file(path, row.contents);
    EXPECT_EQ(file.error, "");
    EXPECT_EQ(file.text.size(), row.size);
  }
}

#ifndef _WIN32
// Files, folders and links another user holds: the tests run as root, who
// may give them away; as anyone else those rows are passed over.
constexpr uid_t kOther = 12345;

TEST(ReadRegularFile, JudgesWhoMayHaveWrittenQuillrunIniOrASecret) {
  enum class Link { none, callers, others };
  struct Row {
    const char *name;
    mode_t file_mode;
    uid_t file_owner; ///< 0: the caller
    mode_t folder_mode;
    uid_t folder_owner; ///< 0: the caller
    Link link;
    Standing standing;
  };
  const std::vector<Row> rows = {
      {"the caller's, others may read", 0644, 0, 0755, 0, Link::none, Standing::trusted},
      {"its group may write", 0664, 0, 0755, 0, Link::none, Standing::written_by_others},
      {"others may write", 0646, 0, 0755, 0, Link::none, Standing::written_by_others},
      {"another user's", 0644, kOther, 0755, 0, Link::none, Standing::foreign_owner},
      {"in a folder others may write", 0644, 0, 0777, 0, Link::none, Standing::open_folder},
      {"in a folder its group may write", 0644, 0, 0775, 0, Link::none, Standing::open_folder},
      {"in a folder with the sticky bit", 0644, 0, 01777, 0, Link::none, Standing::trusted},
      {"in another user's folder", 0644, 0, 0755, kOther, Link::none, Standing::foreign_folder},
      {"through the caller's link", 0644, 0, 0755, 0, Link::callers, Standing::trusted},
      {"through another user's link", 0644, 0, 0755, 0, Link::others, Standing::foreign_link},
      // The folder of the link's target is judged too.
      {"through the caller's link into an open folder", 0644, 0, 0777, 0, Link::callers,
       Standing::open_folder},
  };
  const bool root = geteuid() == 0;
  unit::ScratchDirectory scratch;
  int number = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    if (!root && (row.file_owner != 0 || row.folder_owner != 0 || row.link == Link::others)) {
      continue;
    }
    const std::string folder = scratch.file("folder" + std::to_string(++number));
    const std::string file = folder + "/quillrun.ini";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    unit::write_file(file, "host h\n");
    ASSERT_EQ(chmod(file.c_str(), row.file_mode), 0);
    ASSERT_EQ(chmod(folder.c_str(), row.folder_mode), 0);
    if (row.file_owner != 0) {
      ASSERT_EQ(chown(file.c_str(), row.file_owner, 0), 0);
    }
    if (row.folder_owner != 0) {
      ASSERT_EQ(chown(folder.c_str(), row.folder_owner, 0), 0);
    }
    std::string named = file;
    if (row.link != Link::none) {
      named = scratch.file("link" + std::to_string(number));
      std::filesystem::create_symlink(file, named);
      if (row.link == Link::others) {
        ASSERT_EQ(lchown(named.c_str(), kOther, 0), 0);
      }
    }
    const FileText settings = read_regular_file(named, Contents::settings);
    EXPECT_EQ(settings.error, "");
    EXPECT_EQ(settings.standing, row.standing);
    EXPECT_EQ(settings.text, row.standing == Standing::trusted ? "host h\n" : "");
    const bool folder_fault =
        row.standing == Standing::open_folder || row.standing == Standing::foreign_folder;
    EXPECT_EQ(settings.folder, folder_fault ? folder : "");
    // The mail server's file is not judged.
    const FileText server = read_regular_file(named, Contents::mail_server_settings);
    EXPECT_EQ(server.standing, Standing::trusted);
    EXPECT_EQ(server.text, "host h\n");
  }
}

TEST(ReadRegularFile, ABareNameIsJudgedInTheWorkingFolder) {
  unit::ScratchDirectory scratch;
  unit::write_file(scratch.file("quillrun.ini"), "host h\n");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path);
  ASSERT_EQ(chmod(".", 0777), 0);
  const FileText open = read_regular_file("quillrun.ini", Contents::settings);
  ASSERT_EQ(chmod(".", 0755), 0);
  const FileText closed = read_regular_file("quillrun.ini", Contents::settings);
  std::filesystem::current_path(before);
  EXPECT_EQ(open.standing, Standing::open_folder);
  EXPECT_EQ(open.folder, ".");
  EXPECT_EQ(closed.standing, Standing::trusted);
  EXPECT_EQ(closed.text, "host h\n");
}

TEST(MendingCommand, NamesTheFileOrTheFolderAndTheCaller) {
  const std::string caller = geteuid() == 0 ? "root" : "";
  struct Row {
    Standing standing;
    std::string command;
  };
  const std::vector<Row> rows = {
      {Standing::trusted, ""},
      {Standing::foreign_link, "rm d/f"},
      {Standing::written_by_others, "chmod go-w d/f"},
      {Standing::open_folder, "chmod go-w d, or chmod +t d"},
      {Standing::foreign_owner, "chown " + caller + " d/f"},
      {Standing::foreign_folder, "chown " + caller + " d"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(static_cast<int>(row.standing));
    if (caller.empty() && row.command.starts_with("chown")) continue;
    FileText file;
    file.standing = row.standing;
    file.folder = "d";
    EXPECT_EQ(mending_command("d/f", file), row.command);
  }
}
#endif

} // namespace
} // namespace platform
