// UTF-8 text as editors save it.
#pragma once

#include <string_view>

namespace utf8 {

/// The byte order mark that Notepad writes at the start of a UTF-8 file.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

/// `text` without a byte order mark at its start: the mark is no part of
/// the first key, value or line it would otherwise hide.
inline constexpr std::string_view without_byte_order_mark(std::string_view text) {
  return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
}

} // namespace utf8
