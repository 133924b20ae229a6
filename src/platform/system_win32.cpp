#include "platform/system.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>

namespace platform {

int process_id() { return _getpid(); }

void sleep_seconds(unsigned seconds) { Sleep(static_cast<DWORD>(seconds) * 1000); }

void make_directory(const std::string &path) { _mkdir(path.c_str()); }

void use_binary_standard_input() { _setmode(_fileno(stdin), _O_BINARY); }

long read_standard_input(char *buffer, std::size_t capacity) {
  errno = 0;
  unsigned ask = capacity > INT_MAX ? INT_MAX : static_cast<unsigned>(capacity);
  return _read(0, buffer, ask);
}

void unread_standard_input(std::size_t count) {
  if (count > 0) _lseeki64(0, -static_cast<long long>(count), SEEK_CUR);
}

} // namespace platform
