#include "platform/named_file.h"
#include "platform/owner_only_win32.h"
#include "platform/text_win32.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file on disk, not a directory, a device, a pipe or (opened with
// FILE_FLAG_OPEN_REPARSE_POINT) the link itself.
bool is_regular_file(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

std::FILE *as_stream(HANDLE handle, int flags, const char *mode) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (!is_regular_file(handle)) {
    CloseHandle(handle);
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE *file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

// Opened, or created, without following a reparse point at the name.
HANDLE open_own_name(const char *path, DWORD access, SECURITY_ATTRIBUTES *created_as) {
  return CreateFileW(openable_path(path).c_str(), access, kShareAll, created_as, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace

std::FILE *open_log_file(const char *path) {
  OwnerOnlySecurity security;
  SECURITY_ATTRIBUTES *owner_only = security.attributes();
  if (owner_only == nullptr) return nullptr;
  // FILE_APPEND_DATA alone: every write goes to the end, whoever else appends.
  // Binary: log_lines gives each line its CR LF, whatever the C runtime's
  // text mode would make of a CR LF already there.
  return as_stream(open_own_name(path, FILE_APPEND_DATA, owner_only), _O_APPEND | _O_BINARY, "ab");
}

std::string path_in(const std::string &folder, const std::string &name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return last == '\\' || last == '/' ? folder + name : folder + "\\" + name;
}

std::string log_lines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += '\r';
    lines += text[i];
  }
  return lines;
}

std::FILE *open_pid_file(const char *path) {
  HANDLE handle = open_own_name(path, GENERIC_WRITE, nullptr);
  // Emptied only once it is known to be a regular file.
  if (handle != INVALID_HANDLE_VALUE && is_regular_file(handle) && !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return nullptr;
  }
  return as_stream(handle, _O_TEXT, "wt");
}

} // namespace platform
