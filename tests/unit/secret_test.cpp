#include "config/secret.h"

#include "platform/command_output.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/owner_only_win32.h"
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace config {
namespace {

using std::chrono::steady_clock;

SecretRead secret_of(const std::string &ini_text, const std::string &ini_path) {
  IniRead read = parse_quillrun_ini(ini_text, ini_path);
  EXPECT_EQ(read.failure, "");
  return read_secret(read.ini);
}

// A file only its owner may read and write: on Windows through an access
// list that grants the running user alone (which Wine turns into mode 0600).
void write_owner_only(const std::string &path, const std::string &bytes) {
#ifdef _WIN32
  platform::OwnerOnlySecurity security;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, security.attributes(), CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(handle);
#else
  unit::write_file(path, bytes);
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
#endif
}

TEST(ReadSecret, TheFirstLineOfThePasswordFileOrThePasswordItself) {
  unit::ScratchDirectory scratch;
  struct Row {
    const char *name;
    std::string bytes;
    std::string secret;
    std::string failure;
  };
  const std::string path = scratch.file("secret");
  const std::vector<Row> rows = {
      {"first line, CR LF gone", "pass word\r\nsecond\r\n", "pass word", ""},
      {"no line end", "pass", "pass", ""},
      {"a byte order mark is no part of it", "\xEF\xBB\xBFpass\n", "pass", ""},
      {"an empty first line", "\npass\n", "", "the first line of " + path + " is empty"},
      {"a first line of 16 KiB", std::string(16 * 1024, 'p') + "\n", std::string(16 * 1024, 'p'),
       ""},
      {"a first line longer than 16 KiB", std::string(16 * 1024 + 1, 'p'), "",
       "longer than 16 KiB"},
      {"a byte order mark and a first line of 16 KiB",
       "\xEF\xBB\xBF" + std::string(16 * 1024, 'p') + "\n", std::string(16 * 1024, 'p'), ""},
      {"a byte order mark and a first line longer than 16 KiB",
       "\xEF\xBB\xBF" + std::string(16 * 1024 + 1, 'p'), "", "longer than 16 KiB"},
      {"long lines after a short first line", "pass\n" + std::string(40 * 1024, 'x'), "pass", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(path);
    write_owner_only(path, row.bytes);
    SecretRead read = secret_of("user a\npassword_file " + path + "\n", scratch.file("ini"));
    EXPECT_EQ(read.secret, row.secret);
    EXPECT_EQ(read.failure, row.failure);
  }

  const std::string ini = scratch.file("quillrun.ini");
  EXPECT_EQ(secret_of("user a\npassword two words\n", ini).secret, "two words");

  const std::string missing = scratch.file("missing");
  EXPECT_EQ(secret_of("password_file " + missing + "\n", ini).failure,
            "cannot read " + missing + " (No such file or directory)");
  EXPECT_EQ(secret_of("user a\n", ini).failure,
            "no password_file, password_command or password in " + ini);
}

TEST(ReadSecret, TheFirstLineOfThePasswordCommandWhenItSucceeds) {
  struct Row {
    const char *command;
    std::string secret;
    std::string failure;
  };
  // Commands that /bin/sh and cmd.exe read alike.
  std::vector<Row> rows = {
      {"echo token&& echo second", "token", ""},
      {"exit 3", "", "password_command failed (exit status 3)"},
      {"exit 0", "", "password_command gave an empty line"},
  };
#ifndef _WIN32
  rows.push_back({"kill -9 $$", "", "password_command failed (signal 9)"});
  // Read to its end: a pipe closed after the first line would end it with SIGPIPE.
  rows.push_back({"echo token; head -c 300000 /dev/zero", "token", ""});
  rows.push_back({"head -c 16384 /dev/zero | tr '\\0' x", std::string(16384, 'x'), ""});
  rows.push_back({"head -c 16385 /dev/zero | tr '\\0' x", "", "longer than 16 KiB"});
#endif
  for (const Row &row : rows) {
    SCOPED_TRACE(row.command);
    SecretRead read =
        secret_of(std::string("password_command ") + row.command + "\n", "/etc/quillrun.ini");
    EXPECT_EQ(read.secret, row.secret);
    EXPECT_EQ(read.failure, row.failure);
  }
}

TEST(ReadSecret, APasswordLongerThan16KiBIsRefused) {
  const std::string ini = "user u\npassword " + std::string(16385, 'p') + "\n";
  EXPECT_EQ(secret_of(ini, "/etc/quillrun.ini").failure, "longer than 16 KiB");
}

// A command that runs for ever, or far longer than any test's time limit.
#ifdef _WIN32
constexpr const char *kEndless = "for /l %i in (0,0,1) do @rem";
#else
constexpr const char *kEndless = "sleep 30";
#endif

TEST(RunCommand, EndsACommandWhenItsTimeRunsOut) {
  const steady_clock::time_point start = steady_clock::now();
  platform::CommandRun run = platform::run_command(kEndless, 300);
  EXPECT_TRUE(run.timed_out);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
}

// A command that gives its line and exits, while a process it started keeps
// its output open for some 5 seconds more; the line ended by its LF, or by
// the command's exit.
#ifdef _WIN32
constexpr const char *kLinesThenHeld[] = {
    "echo token& start /b ping -n 6 127.0.0.1",
    "<nul set /p =token& start /b ping -n 6 127.0.0.1 >nul",
};
#else
constexpr const char *kLinesThenHeld[] = {
    "echo token; (sleep 5 &)",
    "printf token; (sleep 5 &)",
};
#endif

TEST(RunCommand, StopsOnceTheCommandHasExitedWhateverHoldsItsOutput) {
  for (const char *command : kLinesThenHeld) {
    SCOPED_TRACE(command);
    const steady_clock::time_point start = steady_clock::now();
    platform::CommandRun run = platform::run_command(command, 20000);
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_FALSE(run.timed_out);
    // cmd.exe ends its lines with CR LF.
    EXPECT_EQ(run.first_line.substr(0, run.first_line.find('\r')), "token");
    EXPECT_EQ(run.exit_status, 0);
  }
}

#ifndef _WIN32
TEST(ReadSecret, APasswordFileOthersMayReadOrWriteIsRefused) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("secret");
  unit::write_file(path, "pass\n");
  struct Row {
    mode_t mode;
    std::string failure;
  };
  const std::vector<Row> rows = {
      {0600, ""},
      {0640, ""},
      {0400, ""},
      {0644, path + " may be read by others (chmod 600 " + path + ", or chmod 640 " + path +
                 " with the web server's group)"},
      {0620, path + " may be written by others (chmod 600 " + path + ", or chmod 640 " + path +
                 " with the web server's group)"},
      {0602, path + " may be written by others (chmod 600 " + path + ", or chmod 640 " + path +
                 " with the web server's group)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.mode);
    ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
    SecretRead read = secret_of("password_file " + path + "\n", "/etc/quillrun.ini");
    EXPECT_EQ(read.failure, row.failure);
    EXPECT_EQ(read.secret, row.failure.empty() ? "pass" : "");
  }
}

TEST(ReadSecret, APasswordFileIsTheCallersOrRootsNeverThroughAnothersLink) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file away";
  constexpr uid_t kOther = 12345;
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("secret");
  const std::string other = scratch.file("other-secret");
  write_owner_only(other, "not this one\n");
  struct Row {
    const char *name;
    bool link; ///< a link to `other`, else a file holding "pass"
    std::string failure;
  };
  const std::vector<Row> rows = {
      {"another user's file", false, path + " belongs to another user (chown root " + path + ")"},
      {"another user's link to the caller's other secret", true,
       path + " is a link another user made (rm " + path + ")"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(path);
    if (row.link) std::filesystem::create_symlink(other, path);
    if (!row.link) write_owner_only(path, "pass\n");
    ASSERT_EQ(lchown(path.c_str(), kOther, 0), 0);
    SecretRead read = secret_of("password_file " + path + "\n", "/etc/quillrun.ini");
    EXPECT_EQ(read.failure, row.failure);
    EXPECT_EQ(read.secret, "");
  }
}

// fd `fd` on `file` for the length of a test.
struct Redirected {
  int fd;
  int saved;
  Redirected(int redirected, int file) : fd(redirected), saved(dup(redirected)) {
    dup2(file, fd);
    close(file);
  }
  ~Redirected() {
    dup2(saved, fd);
    close(saved);
  }
};

TEST(RunCommand, NeverSeesQuillrunsStandardInputNorWritesOnItsStandardError) {
  unit::ScratchDirectory scratch;
  int message[2];
  ASSERT_EQ(pipe(message), 0);
  ASSERT_EQ(write(message[1], "message\n", 8), 8);
  close(message[1]);
  const std::string errors = scratch.file("stderr");
  platform::CommandRun run;
  {
    Redirected input(STDIN_FILENO, message[0]);
    Redirected error(STDERR_FILENO, open(errors.c_str(), O_WRONLY | O_CREAT, 0600));
    run = platform::run_command("echo oops >&2; cat; echo token", 10000);
  }
  EXPECT_EQ(run.first_line, "token");
  EXPECT_EQ(unit::read_file(errors), "");
}

// A caller that ignores SIGCHLD passes that on across exec: the system
// would then reap the command itself, and a failing one pass for a success.
TEST(RunCommand, AFailureIsOneWhateverTheCallerDidWithSigchld) {
  struct sigaction ignored {};
  ignored.sa_handler = SIG_IGN;
  struct sigaction before {};
  sigaction(SIGCHLD, &ignored, &before);
  const platform::CommandRun run = platform::run_command("echo oops; exit 3", 10000);
  sigaction(SIGCHLD, &before, nullptr);
  EXPECT_EQ(run.exit_status, 3);
}

// Alive and not yet a zombie waiting to be reaped.
bool running(pid_t pid) {
  std::string stat = unit::read_file("/proc/" + std::to_string(pid) + "/stat");
  std::size_t state = stat.rfind(") ");
  return state != std::string::npos && stat.compare(state + 2, 1, "Z") != 0;
}

TEST(RunCommand, EndsAtItsTimeAndKeepsLittleHoweverFastTheCommandWrites) {
  const steady_clock::time_point start = steady_clock::now();
  platform::CommandRun run = platform::run_command("cat /dev/zero", 500);
  EXPECT_TRUE(run.timed_out);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(run.first_line.size(), platform::kMaxFirstLine);
}

TEST(RunCommand, ATimeoutEndsTheCommandsWholeProcessGroup) {
  unit::ScratchDirectory scratch;
  const std::string pid_file = scratch.file("pid");
  // The background sleep holds the output open after its shell is killed.
  platform::CommandRun run =
      platform::run_command("sleep 30 & echo $! > " + pid_file + "; wait", 500);
  EXPECT_TRUE(run.timed_out);
  const pid_t sleeper = static_cast<pid_t>(std::stol("0" + unit::read_file(pid_file)));
  ASSERT_GT(sleeper, 0);
  for (int wait = 0; wait < 100 && running(sleeper); ++wait) usleep(20000);
  EXPECT_FALSE(running(sleeper));
}
#else
// Whether a process still holds `path` open: no one may then open it alone.
bool held(const std::string &path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(handle);
  return false;
}

TEST(RunCommand, ATimeoutEndsEveryProcessTheCommandStarted) {
  unit::ScratchDirectory scratch;
  const std::string output = scratch.file("output");
  // The inner cmd.exe holds the file open while it waits for ping.
  platform::CommandRun run =
      platform::run_command("cmd /c \"echo begun& ping -n 30 127.0.0.1 >nul\" > " + output, 2000);
  EXPECT_TRUE(run.timed_out);
  for (int wait = 0; wait < 100 && held(output); ++wait) Sleep(20);
  EXPECT_FALSE(held(output));
  EXPECT_EQ(unit::read_file(output), "begun\r\n");
}

TEST(RunCommand, WhatTheCommandLeftRunningGoesOnAfterItsExit) {
  unit::ScratchDirectory scratch;
  const std::string mark = scratch.file("mark");
  platform::CommandRun run = platform::run_command(
      "echo token& start /b cmd /c \"ping -n 2 127.0.0.1 >nul& echo alive> " + mark + "\"", 20000);
  EXPECT_FALSE(run.timed_out);
  for (int wait = 0; wait < 250 && unit::read_file(mark).empty(); ++wait) Sleep(20);
  EXPECT_EQ(unit::read_file(mark), "alive\r\n");
}
#endif

} // namespace
} // namespace config
