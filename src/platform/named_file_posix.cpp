#include "platform/named_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// O_NONBLOCK makes the open of a FIFO return at once (a FIFO without a
// reader refuses a writer); fstat then turns down anything but a regular
// file, on which O_NONBLOCK has no effect.
constexpr int kNeverWait = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

std::FILE *regular_file(int fd, const char *mode) {
  if (fd < 0) return nullptr;
  struct stat status {};
  std::FILE *file = nullptr;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) file = fdopen(fd, mode);
  if (file == nullptr) close(fd);
  return file;
}

} // namespace

std::FILE *open_log_file(const char *path) {
  return regular_file(open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | kNeverWait, 0600),
                      "a");
}

std::string path_in(const std::string &folder, const std::string &name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string log_lines(std::string_view text) { return std::string(text); }

std::FILE *open_pid_file(const char *path) {
  std::FILE *file =
      regular_file(open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | kNeverWait, 0644), "w");
  // Emptied only once it is known to be a regular file.
  if (file != nullptr && ftruncate(fileno(file), 0) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

} // namespace platform
