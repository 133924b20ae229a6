#include "platform/secret_access_win32.h"

#include <cstddef>

namespace platform {
namespace {

// Every account of the machine or domain is in one of these groups.
constexpr WELL_KNOWN_SID_TYPE kOthers[] = {WinWorldSid, WinBuiltinUsersSid,
                                           WinAuthenticatedUserSid};

// Generic rights stay unmapped in a descriptor built from SDDL or inherited
// by a folder's children, so they count as well as the file's own right.
constexpr ACCESS_MASK kReadData = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
constexpr ACCESS_MASK kWriteData =
    FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The accounts an owner may be besides the caller: they may change any file.
constexpr WELL_KNOWN_SID_TYPE kAdministrators[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};

template <std::size_t N> bool is_one_of(PSID sid, const WELL_KNOWN_SID_TYPE (&groups)[N]) {
  for (WELL_KNOWN_SID_TYPE group : groups) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    if (CreateWellKnownSid(group, nullptr, buffer, &size) && EqualSid(sid, buffer)) return true;
  }
  return false;
}

// Whether the access list grants any of `rights` to the others.
bool grants_others(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return true;
  if (!present || dacl == nullptr) return true;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void *entry = nullptr;
    if (!GetAce(dacl, index, &entry)) return true;
    auto *ace = static_cast<ACCESS_ALLOWED_ACE *>(entry);
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (ace->Mask & rights) != 0 &&
        is_one_of(&ace->SidStart, kOthers)) {
      return true;
    }
  }
  return false;
}

} // namespace

bool lets_others_read(PSECURITY_DESCRIPTOR descriptor) {
  return grants_others(descriptor, kReadData);
}

bool lets_others_write(PSECURITY_DESCRIPTOR descriptor) {
  return grants_others(descriptor, kWriteData);
}

bool owned_by_trusted(PSECURITY_DESCRIPTOR descriptor, PSID caller) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) return false;
  return (caller != nullptr && EqualSid(owner, caller)) || is_one_of(owner, kAdministrators);
}

} // namespace platform
