#include "platform/settings_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// O_NONBLOCK makes the open of a FIFO return at once; fstat then turns down
// anything but a regular file, on which O_NONBLOCK has no effect.
constexpr int kNeverWait = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

FileText failed(int error_number) {
  FileText file;
  file.error = std::strerror(error_number);
  file.missing = error_number == ENOENT || error_number == ENOTDIR;
  return file;
}

Exposure exposure_of(mode_t mode) {
  if ((mode & S_IROTH) != 0) return Exposure::read_by_others;
  if ((mode & (S_IWGRP | S_IWOTH)) != 0) return Exposure::written_by_others;
  return Exposure::owner_only;
}

} // namespace

FileText read_regular_file(const std::string &path, Contents contents) {
  int fd = open(path.c_str(), O_RDONLY | kNeverWait);
  if (fd < 0) return failed(errno);
  FileText file;
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    file = failed(errno);
  } else if (!S_ISREG(status.st_mode)) {
    file.error = kNotARegularFile;
  } else {
    file.exposure = exposure_of(status.st_mode);
  }
  const bool withheld = contents == Contents::secret && file.exposure != Exposure::owner_only;
  char block[4096];
  while (file.error.empty() && !withheld) {
    ssize_t count = read(fd, block, sizeof block);
    if (count == 0) break;
    if (count > 0) file.text.append(block, static_cast<std::size_t>(count));
    if (count < 0 && errno != EINTR) file = failed(errno);
  }
  close(fd);
  return file;
}

std::string default_settings_path() { return "/etc/quillrun.ini"; }

std::string environment_value(const char *name) {
  const char *value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string closing_command(const std::string &path) { return "chmod 600 " + path; }

} // namespace platform
