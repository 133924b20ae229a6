#include "config/quillrun_ini.h"

#include "config/file_faults.h"
#include "platform/path_limit.h"
#include "platform/settings_file.h"
#include "text/utf8.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace config {
namespace {

using smtp::AuthMethod;
using smtp::TlsMode;

constexpr std::string_view kBlanks = " \t";

// The reasons of "FILE line N: REASON" that name no key of their own.
constexpr const char *kPortReason = "port must be a number from 1 to 65535";
constexpr const char *kTlsReason = "tls must be starttls, implicit or off";
constexpr const char *kAuthReason = "auth must be plain, login or xoauth2";
constexpr const char *kLargerReason = "larger than 64 KiB";
constexpr const char *kOneSecretReason =
    "only one of password_file, password_command and password may be given";

template <typename Value> struct Word {
  std::string_view text;
  Value value;
};

constexpr Word<TlsMode> kTlsWords[] = {
    {"starttls", TlsMode::starttls}, {"implicit", TlsMode::implicit}, {"off", TlsMode::off}};
constexpr Word<AuthMethod> kAuthWords[] = {
    {"plain", AuthMethod::plain}, {"login", AuthMethod::login}, {"xoauth2", AuthMethod::xoauth2}};

// Words are taken in any case: RFC 4954 writes the mechanisms in capitals,
// and a user may copy them so.
bool same_words(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

template <typename Value, std::size_t N>
std::optional<Value> word_value(const Word<Value> (&words)[N], std::string_view text) {
  for (const Word<Value> &word : words) {
    if (same_words(word.text, text)) return word.value;
  }
  return std::nullopt;
}

// 1 to 65535 in decimal digits alone, leading zeros allowed.
int port_number(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  text.remove_prefix(std::min(text.find_first_not_of('0'), text.size()));
  if (text.size() > 5) return 0;
  int number = 0;
  for (char digit : text) number = number * 10 + (digit - '0');
  return number <= 65535 ? number : 0;
}

// Each key's effect: empty when the value is taken, else the reason it is not.
using Setter = std::string (*)(std::string_view value, QuillrunIni &ini);

std::string take_secret(QuillrunIni &ini, SecretSource source, std::string_view value) {
  if (ini.secret_source != SecretSource::none) return kOneSecretReason;
  ini.secret_source = source;
  ini.secret_setting = value;
  return {};
}

// The longest value each key can use: a host name (RFC 1035 2.3.4, an IPv6
// literal in brackets), a login, a command line; a path as the system
// allows; a password only as a secret may be, which is checked where it is
// read, as for every source of it.
constexpr std::size_t kLongestHost = 255;
constexpr std::size_t kLongestWord = 255;
constexpr std::size_t kLongestUser = 1024;
constexpr std::size_t kLongestCommand = 8 * 1024;
constexpr std::size_t kUnbounded = std::string_view::npos;

struct Key {
  std::string_view name;
  std::size_t longest;
  Setter set;
};

constexpr Key kKeys[] = {
    {"host", kLongestHost,
     [](std::string_view value, QuillrunIni &ini) {
       ini.host = value;
       return std::string();
     }},
    {"port", kLongestWord,
     [](std::string_view value, QuillrunIni &ini) {
       ini.port = port_number(value);
       return std::string(ini.port == 0 ? kPortReason : "");
     }},
    {"tls", kLongestWord,
     [](std::string_view value, QuillrunIni &ini) {
       std::optional<TlsMode> mode = word_value(kTlsWords, value);
       if (mode) ini.submission.tls = *mode;
       return std::string(mode ? "" : kTlsReason);
     }},
    {"tls_ca_file", platform::kLongestPath,
     [](std::string_view value, QuillrunIni &ini) {
       ini.submission.tls_ca_file = value;
       return std::string();
     }},
    {"user", kLongestUser,
     [](std::string_view value, QuillrunIni &ini) {
       ini.submission.user = value;
       return std::string();
     }},
    {"auth", kLongestWord,
     [](std::string_view value, QuillrunIni &ini) {
       std::optional<AuthMethod> method = word_value(kAuthWords, value);
       if (method) ini.submission.auth = *method;
       return std::string(method ? "" : kAuthReason);
     }},
    {"password_file", platform::kLongestPath,
     [](std::string_view value, QuillrunIni &ini) {
       return take_secret(ini, SecretSource::file, value);
     }},
    {"password_command", kLongestCommand,
     [](std::string_view value, QuillrunIni &ini) {
       return take_secret(ini, SecretSource::command, value);
     }},
    {"password", kUnbounded,
     [](std::string_view value, QuillrunIni &ini) {
       return take_secret(ini, SecretSource::inline_text, value);
     }},
};
constexpr std::size_t kKeyCount = std::size(kKeys);

// The key's row in kKeys; kKeyCount for an unknown key.
std::size_t key_index(std::string_view name) {
  std::size_t index = 0;
  while (index < kKeyCount && kKeys[index].name != name) ++index;
  return index;
}

// A line without its trailing blanks and CR, and without leading blanks.
std::string_view trimmed(std::string_view line) {
  std::size_t end = line.find_last_not_of(" \t\r");
  line = line.substr(0, end == std::string_view::npos ? 0 : end + 1);
  return line.substr(std::min(line.find_first_not_of(kBlanks), line.size()));
}

bool passed_over(std::string_view line) {
  return line.empty() || line.front() == '#' || line.front() == ';' ||
         (line.front() == '[' && line.back() == ']');
}

// A value of the file as a message quotes it: its first 200 bytes at most.
std::string quoted(std::string_view value) {
  constexpr std::size_t kQuoted = 200;
  return value.size() > kQuoted ? std::string(value.substr(0, kQuoted)) + "..."
                                : std::string(value);
}

// What `line` does to `ini`: empty when it is sound, else the reason.
std::string take_line(std::string_view line, QuillrunIni &ini, std::array<bool, kKeyCount> &given) {
  std::size_t key_end = std::min(line.find_first_of(kBlanks), line.size());
  std::string_view name = line.substr(0, key_end);
  std::string_view value = line.substr(key_end);
  value.remove_prefix(std::min(value.find_first_not_of(kBlanks), value.size()));
  const std::size_t index = key_index(name);
  if (index == kKeyCount) return "unknown key " + quoted(name);
  if (value.empty()) return std::string(name) + " has no value";
  if (given[index]) return std::string(name) + " is given twice";
  if (value.size() > kKeys[index].longest) {
    return std::string(name) + " is longer than " + std::to_string(kKeys[index].longest) + " bytes";
  }
  given[index] = true;
  return kKeys[index].set(value, ini);
}

TlsMode tls_for_port(int port) {
  if (port == 465) return TlsMode::implicit;
  if (port == 587) return TlsMode::starttls;
  return TlsMode::off;
}

} // namespace

IniRead parse_quillrun_ini(std::string_view text, const std::string &path) {
  IniRead read;
  read.ini.found = true;
  read.ini.path = path;
  text = utf8::without_byte_order_mark(text);
  std::array<bool, kKeyCount> given{};
  for (int number = 1; !text.empty(); ++number) {
    std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (passed_over(line)) continue;
    std::string reason = take_line(line, read.ini, given);
    if (!reason.empty()) {
      read.failure = path + " line " + std::to_string(number) + ": " + reason;
      return read;
    }
  }
  if (!given[key_index("tls")]) {
    read.ini.submission.tls = tls_for_port(read.ini.port);
  }
  return read;
}

IniRead read_quillrun_ini() {
  const std::string named = platform::environment_value(kQuillrunIniVariable);
  const std::string path = named.empty() ? platform::default_settings_path() : named;
  const platform::FileText file = platform::read_regular_file(path, platform::Contents::settings);
  // Its password_command runs as the caller: only the caller or an
  // administrator may have written it.
  std::string reason = standing_fault(file, path);
  if (reason.empty() && file.text.size() > platform::kSettingsLimit) reason = kLargerReason;
  if (file.error.empty() && reason.empty()) {
    IniRead read = parse_quillrun_ini(file.text, path);
    read.ini.exposure = file.exposure;
    return read;
  }
  IniRead read;
  read.ini.path = path;
  if (!reason.empty()) {
    read.failure = path + ": " + reason;
    return read;
  }
  // Only the default file may be absent; one that is named must be there.
  if (!named.empty() || !file.missing) {
    read.failure = path + ": cannot be read (" + file.error + ")";
  }
  return read;
}

int submission_port(const QuillrunIni &ini, int mail_server_port) {
  if (ini.port != 0) return ini.port;
  if (ini.submission.tls == TlsMode::starttls) return 587;
  if (ini.submission.tls == TlsMode::implicit) return 465;
  return mail_server_port;
}

} // namespace config
