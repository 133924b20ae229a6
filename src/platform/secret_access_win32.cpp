#include "platform/secret_access_win32.h"

namespace platform {
namespace {

// Every account of the machine or domain is in one of these groups.
constexpr WELL_KNOWN_SID_TYPE kOthers[] = {WinWorldSid, WinBuiltinUsersSid,
                                           WinAuthenticatedUserSid};

// Generic rights stay unmapped in a descriptor built from SDDL or inherited
// by a folder's children, so they count as well as the file's own right.
constexpr ACCESS_MASK kReadData = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;

bool is_others(PSID sid) {
  for (WELL_KNOWN_SID_TYPE group : kOthers) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    if (CreateWellKnownSid(group, nullptr, buffer, &size) && EqualSid(sid, buffer)) return true;
  }
  return false;
}

} // namespace

bool lets_others_read(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return true;
  if (!present || dacl == nullptr) return true;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void *entry = nullptr;
    if (!GetAce(dacl, index, &entry)) return true;
    auto *ace = static_cast<ACCESS_ALLOWED_ACE *>(entry);
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (ace->Mask & kReadData) != 0 &&
        is_others(&ace->SidStart)) {
      return true;
    }
  }
  return false;
}

} // namespace platform
