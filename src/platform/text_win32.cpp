#include "platform/text_win32.h"

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::wstring converted(UINT code_page, DWORD flags, std::string_view text) {
  const int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(code_page, flags, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(), length, wide.data(), size);
  return wide;
}

} // namespace

std::wstring wide_text(std::string_view text) {
  std::wstring wide = converted(CP_UTF8, MB_ERR_INVALID_CHARS, text);
  return wide.empty() ? converted(CP_ACP, 0, text) : wide;
}

std::string utf8_text(std::wstring_view text) {
  const int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

std::wstring openable_path(const std::string &path) {
  std::wstring wide = wide_text(path);
  // "\\?\" and "\\.\" paths are taken as they are, never made longer.
  if (wide.size() < MAX_PATH || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\")) {
    return wide;
  }
  // The prefix turns off the system's own clean-up of the path, so the
  // path is made full (absolute, "." and ".." gone) first.
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  DWORD length = size == 0 ? 0 : GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string error_words(DWORD code) {
  switch (code) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return std::strerror(ENOENT);
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return std::strerror(EACCES);
  default:
    break;
  }
  wchar_t *message = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
  std::string words = length == 0 ? std::string() : utf8_text({message, length});
  LocalFree(message);
  while (!words.empty() && std::strchr(".\r\n ", words.back()) != nullptr) words.pop_back();
  return words.empty() ? "error " + std::to_string(code) : words;
}

} // namespace platform
