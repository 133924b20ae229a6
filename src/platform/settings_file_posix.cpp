#include "platform/settings_file.h"

#include "platform/random_letters.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// O_NONBLOCK makes the open of a FIFO return at once; fstat then turns down
// anything but a regular file, on which O_NONBLOCK has no effect.
constexpr int kNeverWait = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// As the kernel's own limit on links followed in one lookup.
constexpr int kLinksFollowed = 40;

FileText failed(int error_number) {
  FileText file;
  file.error = std::strerror(error_number);
  file.missing = error_number == ENOENT || error_number == ENOTDIR;
  file.denied = error_number == EACCES;
  return file;
}

Exposure exposure_of(mode_t mode) {
  if ((mode & S_IROTH) != 0) return Exposure::read_by_others;
  if ((mode & (S_IWGRP | S_IWOTH)) != 0) return Exposure::written_by_others;
  return Exposure::owner_only;
}

// The caller is the effective user; root may write every file anyway.
bool trusted_owner(uid_t owner) { return owner == geteuid() || owner == 0; }

bool written_by_others(mode_t mode) { return (mode & (S_IWGRP | S_IWOTH)) != 0; }

Standing standing_of(const struct stat &file) {
  if (!trusted_owner(file.st_uid)) return Standing::foreign_owner;
  if (written_by_others(file.st_mode)) return Standing::written_by_others;
  return Standing::trusted;
}

// In a folder others may write they may put another file in this one's
// place, unless the sticky bit keeps each entry to its owner.
Standing folder_standing(const struct stat &folder) {
  if (!trusted_owner(folder.st_uid)) return Standing::foreign_folder;
  if (written_by_others(folder.st_mode) && (folder.st_mode & S_ISVTX) == 0) {
    return Standing::open_folder;
  }
  return Standing::trusted;
}

// A path as its folder and the name in it; "." for a bare name, and "."
// as the name of a path ending in "/" (a folder, then not a regular file).
struct Parts {
  std::string folder;
  std::string name;
};

Parts parts_of(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  Parts parts{slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
  if (parts.name.empty()) parts.name = ".";
  return parts;
}

// `folder` as the messages name it: a link's relative target is looked up
// from the link's folder, `from`.
std::string shown_folder(const std::string &folder, const std::string &from) {
  if (from.empty() || folder.starts_with('/')) return folder;
  return folder == "." ? from : from + "/" + folder;
}

struct Opened {
  int fd = -1;
  FileText verdict; ///< its error or standing when fd is -1
};

// Opens `path` for reading: its folder first, judged by the descriptor;
// then the name in that very folder, never through a link unless the caller
// or root made it. A link's target is read from the link's own descriptor,
// so the target followed is the one of the link judged.
Opened open_judged(std::string path) {
  int base = AT_FDCWD;
  std::string from;
  for (int links = 0; links <= kLinksFollowed; ++links) {
    const Parts parts = parts_of(path);
    const int folder = openat(base, parts.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (base != AT_FDCWD) close(base);
    if (folder < 0) return {-1, failed(errno)};
    Opened opened;
    struct stat status {};
    if (fstat(folder, &status) != 0) opened.verdict = failed(errno);
    if (opened.verdict.error.empty()) opened.verdict.standing = folder_standing(status);
    from = shown_folder(parts.folder, from);
    if (opened.verdict.standing != Standing::trusted) opened.verdict.folder = from;
    bool link_there = false;
    if (opened.verdict.error.empty() && opened.verdict.standing == Standing::trusted) {
      opened.fd = openat(folder, parts.name.c_str(), O_RDONLY | O_NOFOLLOW | kNeverWait);
      link_there = opened.fd < 0 && errno == ELOOP;
      if (opened.fd < 0 && !link_there) opened.verdict = failed(errno);
    }
    if (!link_there) {
      close(folder);
      return opened;
    }
    // A link: judged and read by its own descriptor, never its name again.
    const int link = openat(folder, parts.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    char target[4096];
    ssize_t length = -1;
    if (link >= 0 && fstat(link, &status) == 0 && S_ISLNK(status.st_mode)) {
      if (!trusted_owner(status.st_uid)) opened.verdict.standing = Standing::foreign_link;
      length = readlinkat(link, "", target, sizeof target);
    }
    if (link >= 0) close(link);
    if (opened.verdict.standing != Standing::trusted) {
      close(folder);
      return opened;
    }
    // A link no more (replaced between the two opens): its name looked up again.
    path = length > 0 ? std::string(target, static_cast<std::size_t>(length)) : parts.name;
    base = folder;
  }
  close(base);
  return {-1, failed(ELOOP)};
}

// Up to `limit` bytes of `fd`: memory stays within that whatever the file's size.
void read_up_to(int fd, std::size_t limit, FileText &file) {
  char block[4096];
  while (file.error.empty() && file.text.size() < limit) {
    const std::size_t wanted = std::min(sizeof block, limit - file.text.size());
    ssize_t count = read(fd, block, wanted);
    if (count == 0) break;
    if (count < 0 && errno != EINTR) file = failed(errno);
    if (count > 0) file.text.append(block, static_cast<std::size_t>(count));
  }
}

std::string caller_name() {
  const struct passwd *entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : std::to_string(geteuid());
}

} // namespace

FileText read_regular_file(const std::string &path, Contents contents) {
  Opened opened;
  if (contents == Contents::mail_server_settings) {
    opened.fd = open(path.c_str(), O_RDONLY | kNeverWait);
    if (opened.fd < 0) opened.verdict = failed(errno);
  } else {
    opened = open_judged(path);
  }
  if (opened.fd < 0) return opened.verdict;
  FileText file;
  struct stat status {};
  if (fstat(opened.fd, &status) != 0) {
    file = failed(errno);
  } else if (!S_ISREG(status.st_mode)) {
    file.error = kNotARegularFile;
  } else {
    file.exposure = exposure_of(status.st_mode);
    if (contents != Contents::mail_server_settings) file.standing = standing_of(status);
  }
  const bool withheld = file.standing != Standing::trusted ||
                        (holds_secret(contents) && file.exposure != Exposure::owner_only);
  if (!withheld) read_up_to(opened.fd, read_limit(contents), file);
  close(opened.fd);
  return file;
}

std::string replace_private_file(const std::string &path, std::string_view text) {
  const Parts parts = parts_of(path);
  const int folder = open(parts.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return std::strerror(errno);
  // A name of this run alone: runs in other PID namespaces that share the
  // folder may have the same process number.
  const std::string fresh =
      "." + parts.name + "." + std::to_string(getpid()) + "." + random_letters(6) + ".new";
  const int fd =
      openat(folder, fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  int error = fd < 0 ? errno : 0;
  while (error == 0 && !text.empty()) {
    const ssize_t count = write(fd, text.data(), text.size());
    if (count < 0 && errno != EINTR) error = errno;
    if (count > 0) text.remove_prefix(static_cast<std::size_t>(count));
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (fd >= 0 && close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && renameat(folder, fresh.c_str(), folder, parts.name.c_str()) != 0) error = errno;
  if (error != 0 && fd >= 0) unlinkat(folder, fresh.c_str(), 0);
  close(folder);
  return error == 0 ? std::string() : std::strerror(error);
}

std::string default_settings_path() { return "/etc/quillrun.ini"; }

std::string environment_value(const char *name) {
  const char *value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// 0640 is closed to others too: the way to share a file with the group a
// web server runs quillrun as.
std::string closing_command(const std::string &path) {
  return "chmod 600 " + path + ", or chmod 640 " + path + " with the web server's group";
}

std::string mending_command(const std::string &path, const FileText &file) {
  switch (file.standing) {
  case Standing::foreign_link:
    return "rm " + path;
  case Standing::foreign_owner:
    return "chown " + caller_name() + " " + path;
  case Standing::written_by_others:
    return "chmod go-w " + path;
  case Standing::foreign_folder:
    return "chown " + caller_name() + " " + file.folder;
  case Standing::open_folder:
    return "chmod go-w " + file.folder + ", or chmod +t " + file.folder;
  case Standing::trusted:
    break;
  }
  return {};
}

} // namespace platform
