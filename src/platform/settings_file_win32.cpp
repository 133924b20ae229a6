#include "platform/owner_only_win32.h"
#include "platform/random_letters.h"
#include "platform/secret_access_win32.h"
#include "platform/settings_file.h"
#include "platform/text_win32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
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
  file.denied = code == ERROR_ACCESS_DENIED;
  return file;
}

// A file on disk, not a directory, a device or a pipe.
bool is_regular_file(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The account this process runs as, as a TOKEN_USER; empty when it cannot be had.
std::vector<unsigned char> running_user() {
  std::vector<unsigned char> user;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
    CloseHandle(token);
  }
  return user;
}

PSID sid_of(std::vector<unsigned char> &user) {
  return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
}

// The opened file's owner and access list; nullptr when they cannot be had.
PSECURITY_DESCRIPTOR security_of(HANDLE handle) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return nullptr;
  }
  return descriptor;
}

// A list that cannot be had counts as one that lets others in, as a
// missing list does.
Exposure exposure_of(PSECURITY_DESCRIPTOR descriptor) {
  if (descriptor == nullptr || lets_others_read(descriptor)) return Exposure::read_by_others;
  if (lets_others_write(descriptor)) return Exposure::written_by_others;
  return Exposure::owner_only;
}

Standing standing_of(PSECURITY_DESCRIPTOR descriptor) {
  std::vector<unsigned char> user = running_user();
  if (descriptor == nullptr || !owned_by_trusted(descriptor, sid_of(user))) {
    return Standing::foreign_owner;
  }
  if (lets_others_write(descriptor)) return Standing::written_by_others;
  return Standing::trusted;
}

// The account this process runs as, as icacls takes it: DOMAIN\name, or
// "*" and its SID when the name cannot be had.
std::string running_account() {
  std::vector<unsigned char> user = running_user();
  PSID sid = sid_of(user);
  if (sid == nullptr) return kShellAccount;
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

HANDLE open_for_reading(const std::string &path, DWORD flags, DWORD share = kShareAll) {
  // GENERIC_READ holds READ_CONTROL, which GetSecurityInfo needs.
  return CreateFileW(openable_path(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

bool is_reparse_point(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The file at `path`, never through a link (a reparse point) unless the
// caller, SYSTEM or Administrators own it. The name is looked up a second
// time to follow such a link, while the link judged is held open without
// leave to delete: nobody can rename or remove it, nor the folders above
// it, in between, so the name still leads through the link judged. A plain
// file is held with leave to delete, as a token cache's writer needs to
// put its new file in place while another run reads the old.
HANDLE open_judged(const std::string &path, FileText &verdict) {
  HANDLE handle = open_for_reading(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE || !is_reparse_point(handle)) return handle;
  CloseHandle(handle);
  handle = open_for_reading(path, FILE_FLAG_OPEN_REPARSE_POINT, FILE_SHARE_READ | FILE_SHARE_WRITE);
  // Replaced by a plain file meanwhile: judged as any other file.
  if (handle == INVALID_HANDLE_VALUE || !is_reparse_point(handle)) return handle;
  std::vector<unsigned char> user = running_user();
  PSECURITY_DESCRIPTOR link = security_of(handle);
  const bool trusted = link != nullptr && owned_by_trusted(link, sid_of(user));
  LocalFree(link);
  HANDLE followed = INVALID_HANDLE_VALUE;
  if (trusted) {
    followed = open_for_reading(path, FILE_ATTRIBUTE_NORMAL);
  } else {
    verdict.standing = Standing::foreign_link;
  }
  // The caller reads why the followed open failed: kept across the close.
  const DWORD error = GetLastError();
  CloseHandle(handle);
  SetLastError(error);
  return followed;
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
  const bool judged = contents != Contents::mail_server_settings;
  FileText file;
  HANDLE handle = judged ? open_judged(path, file) : open_for_reading(path, FILE_ATTRIBUTE_NORMAL);
  if (file.standing != Standing::trusted) return file;
  if (handle == INVALID_HANDLE_VALUE) return failed(GetLastError());
  if (!is_regular_file(handle)) {
    file.error = kNotARegularFile;
  } else {
    PSECURITY_DESCRIPTOR descriptor = security_of(handle);
    file.exposure = exposure_of(descriptor);
    if (judged) file.standing = standing_of(descriptor);
    LocalFree(descriptor);
  }
  const bool withheld = file.standing != Standing::trusted ||
                        (holds_secret(contents) && file.exposure != Exposure::owner_only);
  const std::size_t limit = read_limit(contents);
  char block[4096];
  while (file.error.empty() && !withheld && file.text.size() < limit) {
    const DWORD wanted = static_cast<DWORD>(std::min(sizeof block, limit - file.text.size()));
    DWORD count = 0;
    if (!ReadFile(handle, block, wanted, &count, nullptr)) {
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

std::string replace_private_file(const std::string &path, std::string_view text) {
  OwnerOnlySecurity security;
  if (security.attributes() == nullptr) return error_words(GetLastError());
  // A name of this run alone, beside the file: MoveFileEx renames within
  // one volume.
  const std::wstring fresh = openable_path(path + "." + std::to_string(GetCurrentProcessId()) +
                                           "." + random_letters(6) + ".new");
  // CREATE_NEW never opens what is there, a link least of all.
  HANDLE handle = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, security.attributes(), CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return error_words(GetLastError());
  DWORD error = ERROR_SUCCESS;
  while (error == ERROR_SUCCESS && !text.empty()) {
    DWORD count = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    if (!WriteFile(handle, text.data(), wanted, &count, nullptr)) error = GetLastError();
    text.remove_prefix(count);
  }
  if (error == ERROR_SUCCESS && !FlushFileBuffers(handle)) error = GetLastError();
  CloseHandle(handle);
  // MOVEFILE_REPLACE_EXISTING replaces a link itself, never its target.
  if (error == ERROR_SUCCESS && !MoveFileExW(fresh.c_str(), openable_path(path).c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) DeleteFileW(fresh.c_str());
  return error == ERROR_SUCCESS ? std::string() : error_words(error);
}

std::string closing_command(const std::string &path) {
  // Inherited entries go (a folder under Program Files lets Users read),
  // then any explicit grant to Everyone, Authenticated Users and Users;
  // the account that runs quillrun keeps the right to read.
  return "icacls \"" + path +
         "\" /inheritance:r /remove:g *S-1-1-0 *S-1-5-11 *S-1-5-32-545 /grant:r \"" +
         running_account() + ":R\"";
}

std::string mending_command(const std::string &path, const FileText &file) {
  switch (file.standing) {
  case Standing::foreign_link:
    return "del \"" + path + "\"";
  case Standing::foreign_owner:
    return "icacls \"" + path + "\" /setowner \"" + running_account() + "\"";
  case Standing::written_by_others:
    // Inherited entries become the file's own, so that the grants of
    // Everyone, Authenticated Users and Users can go; Users may read again.
    return "icacls \"" + path +
           "\" /inheritance:d /remove:g *S-1-1-0 *S-1-5-11 *S-1-5-32-545 /grant *S-1-5-32-545:R";
  case Standing::foreign_folder: // no folder is judged on Windows
  case Standing::open_folder:
  case Standing::trusted:
    break;
  }
  return {};
}

} // namespace platform
