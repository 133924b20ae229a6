// The configuration reader: a value found holds no delimiter (blank, double
// quote, tab, LF) and no trailing CR, and stands after its key on one line of
// the file; CR LF line ends read as LF ones; the first line that gives a
// value wins, so a file cut at a line end reads as its first part, or as its
// second when the first gives nothing; a UTF-8 byte order mark at the start
// of the file changes nothing.
//
// Input: a first byte choosing the key and where to cut, then the file.
#include "config/mail_server_config.h"
#include "fuzz_support.h"
#include "text/utf8.h"

#include <string>

namespace {

using fuzz::require;

const char *const kKeys[] = {config::kSmtpPortKey, config::kWorkDirectoryKey, config::kDomainKey};

// Some line of `text` holds `key` and, after it, `value`.
bool on_a_line_after_key(std::string_view text, std::string_view key, std::string_view value) {
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    std::size_t key_at = line.find(key);
    if (key_at != std::string_view::npos &&
        line.find(value, key_at + key.size()) != std::string_view::npos) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string with_crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view key = kKeys[data[0] % 3];
  const std::string_view text = fuzz::as_text(data + 1, size - 1);
  const std::string value = config::ini_value(text, key);

  if (!value.empty()) {
    require(value.find_first_of(" \"\t\n") == std::string::npos, "no delimiter in a value");
    require(value.back() != '\r', "no trailing CR");
    require(on_a_line_after_key(text, key, value), "the value follows its key on a line");
  }
  require(config::ini_value(with_crlf(text), key) == value, "CR LF line ends read as LF");

  // Cut after the n-th LF, n from the first byte.
  std::size_t cut = 0;
  for (unsigned n = data[0] / 3u; n > 0; --n) {
    std::size_t lf = text.find('\n', cut);
    if (lf == std::string_view::npos) break;
    cut = lf + 1;
  }
  const std::string first = config::ini_value(text.substr(0, cut), key);
  // After a line end, a byte order mark is no longer at the start of the file.
  const std::string second =
      config::ini_value((cut > 0 ? "\n" : "") + std::string(text.substr(cut)), key);
  require(value == (first.empty() ? second : first), "the first line with a value wins");

  if (!text.starts_with(utf8::kByteOrderMark)) {
    require(config::ini_value(std::string(utf8::kByteOrderMark) + std::string(text), key) == value,
            "a byte order mark at the start changes nothing");
  }

  // A line added at the end gives its value only when nothing before did.
  std::string longer(text);
  longer += '\n';
  longer += key;
  longer += " \"added-value\"\r\n";
  require(config::ini_value(longer, key) == (value.empty() ? "added-value" : value),
          "a value added at the end counts only when none came before");
  return 0;
}
