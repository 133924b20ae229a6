#include "config/mail_server_config.h"

#include "platform/settings_file.h"
#include "text/utf8.h"

#include <algorithm>

namespace config {
namespace {

// The mail server's own reader takes lines in pieces of this many characters;
// each piece is examined as a line of its own.
constexpr std::size_t kPieceLength = 4899;

// The key ends at any of these; the value may also be wrapped in double
// quotes, and a carriage return is not a value delimiter.
constexpr std::string_view kKeyDelimiters = " \t\r\n";
constexpr std::string_view kValueDelimiters = " \"\t\n";

// Mimics strtok: the token starting at or after `from`, and where the scan
// goes on (one past the delimiter that ended the token).
std::string_view next_token(std::string_view text, std::size_t &from, std::string_view delims) {
  std::size_t start = text.find_first_not_of(delims, from);
  if (start == std::string_view::npos) {
    from = text.size();
    return {};
  }
  std::size_t end = text.find_first_of(delims, start);
  if (end == std::string_view::npos) end = text.size();
  from = end < text.size() ? end + 1 : end;
  return text.substr(start, end - start);
}

// A file saved with CR LF line ends reads the same as one with LF alone.
std::string_view without_trailing_returns(std::string_view text) {
  while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

std::string_view value_in_piece(std::string_view piece, std::string_view key) {
  std::size_t from = 0;
  if (next_token(piece, from, kKeyDelimiters) != key) return {};
  return without_trailing_returns(next_token(piece, from, kValueDelimiters));
}

} // namespace

std::string ini_value(std::string_view text, std::string_view key) {
  text = utf8::without_byte_order_mark(text);
  while (!text.empty()) {
    std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view rest = without_trailing_returns(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    do {
      std::string_view piece = rest.substr(0, kPieceLength);
      rest.remove_prefix(piece.size());
      std::string_view value = value_in_piece(piece, key);
      if (!value.empty()) return std::string(value);
    } while (!rest.empty());
  }
  return {};
}

MailServerConfig read_mail_server_config() {
  // Unread (missing, not a regular file) it gives nothing, as an empty file does.
  const std::string text =
      platform::read_regular_file(kConfigPath, platform::Contents::mail_server_settings).text;
  return {ini_value(text, kSmtpPortKey), ini_value(text, kWorkDirectoryKey),
          ini_value(text, kDomainKey)};
}

} // namespace config
