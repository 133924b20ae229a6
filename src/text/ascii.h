// ASCII character tests for protocol text, independent of the C locale.
#pragma once

#include <string>
#include <string_view>

namespace ascii {

inline constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline constexpr bool is_letter_or_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/// A C0 control byte (below 0x20) or DEL (0x7F): what moves a terminal's
/// cursor or ends a line, never text to show or to keep in a field.
inline constexpr bool is_control(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
}

/// `text` with every control byte as "?", so that text from the other end
/// (a certificate, a server's words) stays on the line it is shown on.
inline std::string printable(std::string text) {
  for (char &c : text) {
    if (is_control(c)) c = '?';
  }
  return text;
}

/// A-Z become a-z; every other byte, those above 127 included, stays.
inline constexpr char to_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// a-z become A-Z; every other byte stays.
inline constexpr char to_upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// Whether `a` and `b` are the same but for the case of ASCII letters.
inline constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (to_lower(a[i]) != to_lower(b[i])) return false;
  }
  return true;
}

} // namespace ascii
