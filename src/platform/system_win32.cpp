#include "platform/system.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>

namespace platform {
namespace {

bool standard_input_closed = false;

} // namespace

void start_process() {
  static constexpr DWORD kStandardHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE,
                                               STD_ERROR_HANDLE};
  for (int fd = 0; fd <= 2; ++fd) {
    HANDLE handle = GetStdHandle(kStandardHandles[fd]);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    if (fd == 0) standard_input_closed = true;
    // The runtime's lowest free number would otherwise go to the spool file.
    int null = _open("NUL", _O_RDWR | _O_BINARY);
    if (null < 0 || (null != fd && _dup2(null, fd) != 0)) ExitProcess(1);
    if (null != fd) _close(null);
    SetStdHandle(kStandardHandles[fd], reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
  }
}

int process_id() { return _getpid(); }

void sleep_seconds(unsigned seconds) { Sleep(static_cast<DWORD>(seconds) * 1000); }

void make_directory(const std::string &path) { _mkdir(path.c_str()); }

void use_binary_standard_input() { _setmode(_fileno(stdin), _O_BINARY); }

void use_binary_standard_output() { _setmode(_fileno(stdout), _O_BINARY); }

bool wait_for_standard_input(int timeout_ms) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // Only a pipe can be asked without reading; a file or console is read at once.
  if (standard_input_closed || GetFileType(input) != FILE_TYPE_PIPE) return true;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  for (;;) {
    DWORD waiting = 0;
    // A broken pipe is its end: the read that follows reports it.
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
}

long read_standard_input(char *buffer, std::size_t capacity) {
  if (standard_input_closed) {
    errno = EBADF;
    return -1;
  }
  errno = 0;
  unsigned ask = capacity > INT_MAX ? INT_MAX : static_cast<unsigned>(capacity);
  return _read(0, buffer, ask);
}

void unread_standard_input(std::size_t count) {
  if (count > 0) _lseeki64(0, -static_cast<long long>(count), SEEK_CUR);
}

} // namespace platform
