#include "platform/private_file.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <vector>

namespace platform {
namespace {

// The security of a file that only the running user may open: that user
// owns it, and its access list, closed to inherited entries, has one entry
// granting that user full access. Administrators and SYSTEM get no entry.
class OwnerOnlySecurity {
public:
  OwnerOnlySecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size != 0) {
      user_.resize(size);
      if (!GetTokenInformation(token, TokenUser, user_.data(), size, &size)) user_.clear();
    }
    CloseHandle(token);
    if (user_.empty()) return;

    PSID sid = reinterpret_cast<TOKEN_USER *>(user_.data())->User.Sid;
    if (!IsValidSid(sid)) return;
    DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    acl_.resize(acl_size);
    auto *acl = reinterpret_cast<PACL>(acl_.data());
    ready_ = InitializeAcl(acl, acl_size, ACL_REVISION) &&
             AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorOwner(&descriptor_, sid, FALSE) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }

  OwnerOnlySecurity(const OwnerOnlySecurity &) = delete;
  OwnerOnlySecurity &operator=(const OwnerOnlySecurity &) = delete;

  /// nullptr when the user or the descriptor could not be had.
  SECURITY_ATTRIBUTES *attributes() { return ready_ ? &attributes_ : nullptr; }

private:
  std::vector<unsigned char> user_; // TOKEN_USER; the SID points into it
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

// The file is opened with FILE_FLAG_DELETE_ON_CLOSE: the system removes it
// when its handle closes, whether at the end of the run or because the
// process ends in any other way. It is never removed by name: its name may
// be a link by then (placed by whoever could rename it), and removing a
// link's target is what must never happen.
[[noreturn]] void end_process() {
  // TerminateProcess rather than ExitProcess: the main thread may hold the
  // runtime's locks, and no library shutdown code must run. The handle
  // closes with the process, and the file goes with it.
  TerminateProcess(GetCurrentProcess(), 1);
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
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, attributes,
                              CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                              nullptr);
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

void abandon_run() { end_process(); }

} // namespace platform
