#include "platform/system.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int process_id() { return static_cast<int>(getpid()); }

void sleep_seconds(unsigned seconds) { sleep(seconds); }

void make_directory(const std::string &path) { mkdir(path.c_str(), 0777); }

void use_binary_standard_input() {}

long read_standard_input(char *buffer, std::size_t capacity) {
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
