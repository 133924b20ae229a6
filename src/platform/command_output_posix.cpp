#include "platform/command_output.h"

#include "platform/deadline.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace platform {
namespace {

// The child in a process group of its own, which a timeout kills whole; the
// signals quillrun ignores (SIGPIPE, SIGXFSZ) back to their defaults, since
// an ignored signal stays ignored across exec; nothing of quillrun's open
// but the three standard descriptors (its socket is not close-on-exec).
int spawn_shell(const std::string &command, int output, pid_t &pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  sigaddset(&signals, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  char shell[] = "sh";
  char option[] = "-c";
  char *argv[] = {shell, option, const_cast<char *>(command.c_str()), nullptr};
  int spawned = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return spawned;
}

// How often the command is looked at while its output stays open: a process
// it left behind may hold it after it has exited.
constexpr int kExitCheckMs = 50;

// Whether `pid` has exited, its status then in `status`; without waiting.
bool has_exited(pid_t pid, int &status) {
  pid_t waited = waitpid(pid, &status, WNOHANG);
  return waited == pid || (waited < 0 && errno != EINTR);
}

// Reads `output` into `line` until it ends, or until the command has exited
// (`exited`, its status in `status`) and its first line, or what it wrote of
// it, has been read; false when the deadline came before its exit, however
// fast the command writes.
bool read_first_line(int output, pid_t pid, Clock::time_point deadline, FirstLine &line,
                     bool &exited, int &status) {
  char block[4096];
  for (;;) {
    // An exited command is not killed: its number may be another's by now.
    const int left = milliseconds_left(deadline);
    if (left == 0) return exited;
    // What it wrote before it exited is waiting in the pipe by now.
    if (!exited) exited = has_exited(pid, status);
    if (exited && line.ended) return true;
    pollfd ready{output, POLLIN, 0};
    int polled = poll(&ready, 1, exited ? 0 : std::min(left, kExitCheckMs));
    if (polled == 0 && exited) return true;
    if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
    ssize_t count = polled < 0 ? -1 : read(output, block, sizeof block);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return true;
    take_output(line, {block, static_cast<std::size_t>(count)});
  }
}

// Its status once it has exited; false when the deadline came first. The
// output may end before the process does.
bool wait_until(pid_t pid, Clock::time_point deadline, int &status) {
  for (;;) {
    pid_t waited = waitpid(pid, &status, WNOHANG);
    if (waited == pid || (waited < 0 && errno != EINTR)) return true;
    if (milliseconds_left(deadline) == 0) return false;
    poll(nullptr, 0, 10);
  }
}

} // namespace

CommandRun run_command(const std::string &command, int timeout_ms) {
  CommandRun run;
  // An ignored SIGCHLD, which a caller's ignoring passes on across exec,
  // has the system reap the command itself: its status would be lost, and
  // a failing command taken for one that succeeded.
  std::signal(SIGCHLD, SIG_DFL);
  const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(timeout_ms));
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    run.error = std::strerror(errno);
    return run;
  }
  pid_t pid = 0;
  int spawned = spawn_shell(command, pipe_ends[1], pid);
  close(pipe_ends[1]);
  if (spawned != 0) {
    close(pipe_ends[0]);
    run.error = std::strerror(spawned);
    return run;
  }
  int status = 0;
  bool exited = false;
  FirstLine line;
  run.timed_out = !read_first_line(pipe_ends[0], pid, deadline, line, exited, status) ||
                  (!exited && !wait_until(pid, deadline, status));
  run.first_line = std::move(line.text);
  close(pipe_ends[0]);
  if (run.timed_out) {
    // Killed before it is reaped, so its group's number is still its own.
    kill(-pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return run;
  }
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

} // namespace platform
