#include "platform/system.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool standard_input_closed = false;

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

} // namespace

void start_process() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (is_open(fd)) continue;
    if (fd == STDIN_FILENO) standard_input_closed = true;
    // The lowest free number: this one, since those below it are open.
    int null = open("/dev/null", O_RDWR);
    if (null != fd) _exit(1);
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

int process_id() { return static_cast<int>(getpid()); }

void sleep_seconds(unsigned seconds) { sleep(seconds); }

void make_directory(const std::string &path) { mkdir(path.c_str(), 0777); }

void use_binary_standard_input() {}

void use_binary_standard_output() {}

bool wait_for_standard_input(int timeout_ms) {
  if (standard_input_closed) return true;
  pollfd waiting{STDIN_FILENO, POLLIN, 0};
  int ready;
  do {
    ready = poll(&waiting, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

long read_standard_input(char *buffer, std::size_t capacity) {
  if (standard_input_closed) {
    errno = EBADF;
    return -1;
  }
  ssize_t count;
  do {
    errno = 0;
    count = read(STDIN_FILENO, buffer, capacity);
  } while (count < 0 && errno == EINTR);
  return static_cast<long>(count);
}

void unread_standard_input(std::size_t count) {
  if (count > 0) lseek(STDIN_FILENO, -static_cast<off_t>(count), SEEK_CUR);
}

} // namespace platform
