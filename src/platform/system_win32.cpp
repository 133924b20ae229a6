#include "platform/system.h"

#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>

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

} // namespace

int process_id() { return _getpid(); }

void sleep_seconds(unsigned seconds) { Sleep(static_cast<DWORD>(seconds) * 1000); }

void make_directory(const std::string &path) { _mkdir(path.c_str()); }

void remove_file(const std::string &path) { _unlink(path.c_str()); }

std::FILE *create_private_file(const std::string &path) {
  OwnerOnlySecurity security;
  // Without the owner-only descriptor the file would get the directory's
  // inherited access list, readable by others: then no file at all.
  SECURITY_ATTRIBUTES *attributes = security.attributes();
  if (attributes == nullptr) return nullptr;
  // CREATE_NEW refuses every existing name, a symbolic link or junction
  // included, so a planted name is never opened or followed. No sharing
  // while the message is written.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd == -1) {
    CloseHandle(handle);
    DeleteFileA(path.c_str());
    return nullptr;
  }
  std::FILE *file = _fdopen(fd, "wb");
  if (file == nullptr) {
    _close(fd); // closes the handle too
    DeleteFileA(path.c_str());
  }
  return file;
}

void use_binary_standard_input() { _setmode(_fileno(stdin), _O_BINARY); }

} // namespace platform
