#include "platform/owner_only_win32.h"

namespace platform {

OwnerOnlySecurity::OwnerOnlySecurity() {
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

} // namespace platform
