#include "platform/system.h"

#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>

namespace platform {

int process_id() { return _getpid(); }

void sleep_seconds(unsigned seconds) { Sleep(seconds * 1000); }

void make_directory(const std::string &path) { _mkdir(path.c_str()); }

void remove_file(const std::string &path) { _unlink(path.c_str()); }

std::FILE *create_private_file(const std::string &path) {
  // _O_EXCL with _O_CREAT refuses an existing name; _S_IREAD | _S_IWRITE
  // with no sharing keeps other processes out while the message is written.
  int fd = -1;
  if (_sopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYRW,
               _S_IREAD | _S_IWRITE) != 0) {
    return nullptr;
  }
  std::FILE *file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

void use_binary_standard_input() { _setmode(_fileno(stdin), _O_BINARY); }

} // namespace platform
