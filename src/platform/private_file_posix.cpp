#include "platform/private_file.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// The name the signal handler removes. It is set and cleared with the
// signals blocked, so the handler never sees a file that does not exist yet
// or one already removed (whose name another run may have taken since).
std::string guarded_name;
std::atomic<const char *> guarded{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free);

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the interrupting signals for its lifetime.
class InterruptsHeld {
public:
  InterruptsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kInterrupts) sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  InterruptsHeld(const InterruptsHeld &) = delete;
  InterruptsHeld &operator=(const InterruptsHeld &) = delete;

private:
  sigset_t previous_;
};

// Async-signal-safe: unlink and _exit only.
[[noreturn]] void remove_and_exit() {
  if (const char *name = guarded.load()) unlink(name);
  _exit(1);
}

void on_interrupt(int) { remove_and_exit(); }

} // namespace

std::FILE *create_private_file(const std::string &path) {
  guarded_name = path; // before the file exists: this may run out of memory
  InterruptsHeld held;
  // O_EXCL with O_CREAT refuses an existing name, a symbolic link included,
  // so a name planted by another user is never opened or followed.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE *file = fdopen(fd, "w+b");
  if (file == nullptr) {
    unlink(path.c_str());
    close(fd);
    return nullptr;
  }
  guarded.store(guarded_name.c_str());
  return file;
}

void remove_private_file(const std::string &path, std::FILE *file) {
  {
    InterruptsHeld held;
    unlink(path.c_str());
    guarded.store(nullptr);
  }
  std::fclose(file);
}

void end_run_on_interrupt() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigfillset(&action.sa_mask);
  for (int signal : kInterrupts) sigaction(signal, &action, nullptr);
  // MSG_NOSIGNAL covers the socket; this covers standard output closed by
  // the caller, which must not end the run with the spool file left behind.
  std::signal(SIGPIPE, SIG_IGN);
}

void abandon_run() { remove_and_exit(); }

} // namespace platform
