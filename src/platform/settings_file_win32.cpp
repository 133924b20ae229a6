#include "platform/secret_access_win32.h"
#include "platform/settings_file.h"
#include "platform/text_win32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The account as the shell that runs icacls names it, when the process
// cannot tell its own.
constexpr const char *kShellAccount = "%USERDOMAIN%\\%USERNAME%";

FileText failed(DWORD code) {
  FileText file;
  file.error = error_words(code);
  file.missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
  return file;
}

// A file on disk, not a directory, a device or a pipe.
bool is_regular_file(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether the opened file's own access list lets others read it; a list
// that cannot be had counts as one that does, as a missing list does.
Exposure exposure_of(HANDLE handle) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return Exposure::read_by_others;
  }
  const bool open = lets_others_read(descriptor);
  LocalFree(descriptor);
  return open ? Exposure::read_by_others : Exposure::owner_only;
}

// The account this process runs as, as icacls takes it: DOMAIN\name, or
// "*" and its SID when the name cannot be had.
std::string running_account() {
  std::vector<unsigned char> user;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
    CloseHandle(token);
  }
  if (user.empty()) return kShellAccount;
  PSID sid = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    std::wstring account = domain_size > 0 ? std::wstring(domain) + L"\\" + name : name;
    return utf8_text(account);
  }
  wchar_t *text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return kShellAccount;
  std::string account = "*" + utf8_text(text);
  LocalFree(text);
  return account;
}

} // namespace

std::string default_settings_path() {
  std::wstring module(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (length == 0) return {};
    if (length < module.size()) {
      module.resize(length);
      break;
    }
    // Cut short to the buffer: a path longer than MAX_PATH.
    module.resize(module.size() * 2);
  }
  module.resize(module.find_last_of(L"\\/") + 1);
  return utf8_text(module + L"quillrun.ini");
}

std::string environment_value(const char *name) {
  const std::wstring wide_name = wide_text(name);
  DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  value.resize(length < size ? length : 0);
  return utf8_text(value);
}

FileText read_regular_file(const std::string &path, Contents contents) {
  // GENERIC_READ holds READ_CONTROL, which GetSecurityInfo needs.
  HANDLE handle = CreateFileW(openable_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return failed(GetLastError());
  FileText file;
  if (!is_regular_file(handle)) {
    file.error = kNotARegularFile;
  } else {
    file.exposure = exposure_of(handle);
  }
  const bool withheld = contents == Contents::secret && file.exposure != Exposure::owner_only;
  char block[4096];
  while (file.error.empty() && !withheld) {
    DWORD count = 0;
    if (!ReadFile(handle, block, sizeof block, &count, nullptr)) {
      file = failed(GetLastError());
    } else if (count == 0) {
      break;
    } else {
      file.text.append(block, count);
    }
  }
  CloseHandle(handle);
  return file;
}

std::string closing_command(const std::string &path) {
  // Inherited entries go (a folder under Program Files lets Users read),
  // then any explicit grant to Everyone, Authenticated Users and Users;
  // the account that runs quillrun keeps the right to read.
  return "icacls \"" + path +
         "\" /inheritance:r /remove:g *S-1-1-0 *S-1-5-11 *S-1-5-32-545 /grant:r \"" +
         running_account() + ":R\"";
}

} // namespace platform
