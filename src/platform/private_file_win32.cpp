#include "platform/owner_only_win32.h"
#include "platform/private_file.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>

namespace platform {
namespace {

// The file is opened with FILE_FLAG_DELETE_ON_CLOSE: the system removes it
// when its handle closes, whether at the end of the run or because the
// process ends in any other way. It is never removed by name: its name may
// be a link by then (placed by whoever could rename it), and removing a
// link's target is what must never happen.
std::atomic<int> ending_status{1};

[[noreturn]] void end_process() {
  // TerminateProcess rather than ExitProcess: the main thread may hold the
  // runtime's locks, and no library shutdown code must run. The handle
  // closes with the process, and the file goes with it.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(ending_status.load()));
  for (;;) Sleep(INFINITE);
}

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
  case CTRL_C_EVENT:
  case CTRL_BREAK_EVENT:
  case CTRL_CLOSE_EVENT:
  case CTRL_LOGOFF_EVENT:
  case CTRL_SHUTDOWN_EVENT:
    end_process();
  default:
    return FALSE;
  }
}

} // namespace

std::FILE *create_private_file(const std::string &path) {
  OwnerOnlySecurity security;
  // Without the owner-only descriptor the file would get the directory's
  // inherited access list, readable by others: then no file at all.
  SECURITY_ATTRIBUTES *attributes = security.attributes();
  if (attributes == nullptr) return nullptr;
  // CREATE_NEW refuses every existing name, a symbolic link or junction
  // included, so a planted name is never opened or followed. No sharing:
  // while it is open nobody else may open, rename or delete it.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // From here on closing the handle removes the file.
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE *file = _fdopen(fd, "w+b");
  if (file == nullptr) _close(fd);
  return file;
}

void remove_private_file(const std::string &, std::FILE *file) { std::fclose(file); }

void end_run_on_interrupt() { SetConsoleCtrlHandler(on_console_event, TRUE); }

void set_ending_status(int status) { ending_status.store(status); }

void abandon_run() { end_process(); }

} // namespace platform
