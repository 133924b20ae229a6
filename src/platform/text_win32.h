// Windows only: text between quillrun's narrow strings and the system's
// wide ones, and the system's errors in words.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform {

/// `text` as UTF-16: read as UTF-8 when it is valid UTF-8, else in the ANSI
/// code page (a quillrun.ini saved as "ANSI" by an older editor).
std::wstring wide_text(std::string_view text);

/// `text` as UTF-8.
std::string utf8_text(std::wstring_view text);

/// `path` in a form CreateFileW opens whatever its length: a path of
/// MAX_PATH characters or more gets the "\\?\" prefix that lifts the limit.
std::wstring openable_path(const std::string &path);

/// The system's error `code` in words: the C library's words for the
/// errors that mean no such file and no access (the same as on POSIX), else
/// the system's message without its final period.
std::string error_words(DWORD code);

} // namespace platform
