#include "platform/system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int process_id() { return static_cast<int>(getpid()); }

void sleep_seconds(unsigned seconds) { sleep(seconds); }

void make_directory(const std::string &path) { mkdir(path.c_str(), 0777); }

void remove_file(const std::string &path) { unlink(path.c_str()); }

std::FILE *create_private_file(const std::string &path) {
  // O_EXCL with O_CREAT refuses an existing name, a symbolic link included,
  // so a name planted by another user is never opened or followed.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE *file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

void use_binary_standard_input() {}

} // namespace platform
