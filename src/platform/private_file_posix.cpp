#include "platform/private_file.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace platform {
namespace {

// The name the signal handler removes. It is set and cleared with the
// signals blocked, so the handler never sees a file that does not exist yet
// or one already removed (whose name another run may have taken since).
std::string guarded_name;
std::atomic<const char *> guarded{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free);
// The status of a run cut short: 1 until the server has taken the message.
std::atomic<int> ending_status{1};

// Every signal whose default action ends the process and that can be
// caught. SIGPIPE and SIGXFSZ are ignored instead (start_process): the write
// then fails and the run goes its usual way.
std::vector<int> ending_signals() {
  std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                              SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGALRM,
                              SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGSYS};
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
  return signals;
}

sigset_t ending_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : ending_signals()) sigaddset(&set, signal);
  return set;
}

// Blocks the ending signals for its lifetime.
class EndingsHeld {
public:
  EndingsHeld() {
    const sigset_t set = ending_signal_set();
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~EndingsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  EndingsHeld(const EndingsHeld &) = delete;
  EndingsHeld &operator=(const EndingsHeld &) = delete;

private:
  sigset_t previous_;
};

// Async-signal-safe: unlink and _exit only.
[[noreturn]] void remove_and_exit() {
  if (const char *name = guarded.load()) unlink(name);
  _exit(ending_status.load());
}

void on_ending_signal(int) { remove_and_exit(); }

} // namespace

std::FILE *create_private_file(const std::string &path) {
  guarded_name = path; // before the file exists: this may run out of memory
  EndingsHeld held;
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
    EndingsHeld held;
    unlink(path.c_str());
    guarded.store(nullptr);
  }
  std::fclose(file);
}

void end_run_on_interrupt() {
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  sigfillset(&action.sa_mask);
  for (int signal : ending_signals()) sigaction(signal, &action, nullptr);
}

void set_ending_status(int status) { ending_status.store(status); }

void abandon_run() { remove_and_exit(); }

} // namespace platform
