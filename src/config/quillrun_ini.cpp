#include "config/quillrun_ini.h"

#include "config/file_faults.h"
#include "oauth/endpoint.h"
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

constexpr const char *kGrantReason = "oauth2_grant must be client_credentials or refresh_token";
constexpr const char *kTenantReason = "oauth2_tenant must be a domain name or a tenant ID";
constexpr const char *kTokenUrlReason = "oauth2_token_url must be an https URL";
constexpr const char *kProxyReason = "oauth2_proxy must be HOST:PORT";
constexpr const char *kOneEndpointReason =
    "only one of oauth2_tenant and oauth2_token_url may be given";

template <typename Value> struct Word {
  std::string_view text;
  Value value;
};

constexpr Word<TlsMode> kTlsWords[] = {
    {"starttls", TlsMode::starttls}, {"implicit", TlsMode::implicit}, {"off", TlsMode::off}};
constexpr Word<AuthMethod> kAuthWords[] = {
    {"plain", AuthMethod::plain}, {"login", AuthMethod::login}, {"xoauth2", AuthMethod::xoauth2}};
constexpr Word<oauth::GrantType> kGrantWords[] = {
    {"client_credentials", oauth::GrantType::client_credentials},
    {"refresh_token", oauth::GrantType::refresh_token}};

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

// A tenant goes into the endpoint's path: a domain name or a GUID, nothing
// that could change the URL.
bool tenant_name(std::string_view text) {
  return text.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") ==
         std::string_view::npos;
}

std::string take_token_url(QuillrunIni &ini, std::string url) {
  if (!ini.oauth.token_url.empty()) return kOneEndpointReason;
  ini.oauth.token_url = std::move(url);
  return {};
}

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
       ini.submission.tls_ca_file.path = value;
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
    {"log_directory", platform::kLongestPath,
     [](std::string_view value, QuillrunIni &ini) {
       ini.log_directory = value;
       return std::string();
     }},
    {"log_file", platform::kLongestPath,
     [](std::string_view value, QuillrunIni &ini) {
       ini.log_file = value;
       return std::string();
     }},
    {"oauth2_grant", kLongestWord,
     [](std::string_view value, QuillrunIni &ini) {
       std::optional<oauth::GrantType> grant = word_value(kGrantWords, value);
       if (grant) ini.oauth.type = *grant;
       return std::string(grant ? "" : kGrantReason);
     }},
    {"oauth2_tenant", kLongestHost,
     [](std::string_view value, QuillrunIni &ini) {
       if (!tenant_name(value)) return std::string(kTenantReason);
       return take_token_url(ini, oauth::microsoft_token_url(std::string(value)));
     }},
    {"oauth2_token_url", kLongestCommand,
     [](std::string_view value, QuillrunIni &ini) {
       if (!oauth::parse_https_url(value)) return std::string(kTokenUrlReason);
       return take_token_url(ini, std::string(value));
     }},
    {"oauth2_client_id", kLongestUser,
     [](std::string_view value, QuillrunIni &ini) {
       ini.oauth.client_id = value;
       return std::string();
     }},
    {"oauth2_scope", kLongestCommand,
     [](std::string_view value, QuillrunIni &ini) {
       ini.oauth.scope = value;
       return std::string();
     }},
    {"oauth2_client_secret", kLongestUser,
     [](std::string_view value, QuillrunIni &ini) {
       ini.oauth.client_secret = value;
       return std::string();
     }},
    {"oauth2_token_cache", platform::kLongestPath,
     [](std::string_view value, QuillrunIni &ini) {
       ini.oauth.cache_path = value;
       return std::string();
     }},
    {"oauth2_proxy", kLongestHost + 6,
     [](std::string_view value, QuillrunIni &ini) {
       ini.oauth.proxy = value;
       return std::string(oauth::parse_proxy(value) ? "" : kProxyReason);
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

// An unknown key as its refusal quotes it. One written with its value, as
// "password=VALUE" or "password:VALUE", is shown up to its sign alone: the
// value may be the secret, and the message goes to the caller.
std::string unknown_key_shown(std::string_view name) {
  const std::size_t sign = name.find_first_of("=:");
  return sign == std::string_view::npos ? quoted(name) : quoted(name.substr(0, sign + 1)) + "...";
}

// The line each key was given on; 0 when it was not.
using KeyLines = std::array<int, kKeyCount>;

// What `line`, number `number`, does to `ini`: empty when it is sound, else
// the reason.
std::string take_line(std::string_view line, int number, QuillrunIni &ini, KeyLines &given) {
  std::size_t key_end = std::min(line.find_first_of(kBlanks), line.size());
  std::string_view name = line.substr(0, key_end);
  std::string_view value = line.substr(key_end);
  value.remove_prefix(std::min(value.find_first_not_of(kBlanks), value.size()));
  const std::size_t index = key_index(name);
  if (index == kKeyCount) {
    // A word alone on its line is no key at all, and may be a secret pasted
    // there: it is never shown.
    if (value.empty()) return "not a key and its value";
    return "unknown key " + unknown_key_shown(name);
  }
  if (value.empty()) return std::string(name) + " has no value";
  if (given[index] != 0) return std::string(name) + " is given twice";
  if (value.size() > kKeys[index].longest) {
    return std::string(name) + " is longer than " + std::to_string(kKeys[index].longest) + " bytes";
  }
  given[index] = number;
  return kKeys[index].set(value, ini);
}

int line_of(const KeyLines &given, std::string_view name) { return given[key_index(name)]; }

struct Misfit {
  int line = 0; ///< 0: the oauth2_ keys fit together
  std::string reason;
};

// What the oauth2_ keys lack or contradict, as a whole: each grant needs
// its endpoint, its client and the mailbox's user, and logs in by XOAUTH2.
Misfit oauth_misfit(const QuillrunIni &ini, const KeyLines &given) {
  const int grant = line_of(given, "oauth2_grant");
  if (grant == 0) {
    for (const Key &key : kKeys) {
      const int line = line_of(given, key.name);
      if (key.name.starts_with("oauth2_") && line != 0) {
        return {line, std::string(key.name) + " needs oauth2_grant"};
      }
    }
    return {};
  }
  if (ini.oauth.token_url.empty())
    return {grant, "oauth2_grant needs oauth2_tenant or oauth2_token_url"};
  if (ini.oauth.client_id.empty()) return {grant, "oauth2_grant needs oauth2_client_id"};
  if (ini.submission.user.empty()) return {grant, "oauth2_grant needs user"};
  const int auth = line_of(given, "auth");
  if (auth != 0 && ini.submission.auth != AuthMethod::xoauth2) {
    return {auth, "auth must be xoauth2 with oauth2_grant"};
  }
  const int client_secret = line_of(given, "oauth2_client_secret");
  if (client_secret != 0 && ini.oauth.type != oauth::GrantType::refresh_token) {
    return {client_secret, "oauth2_client_secret is for the refresh_token grant"};
  }
  // The cache is replaced whole at each new token: named as one of the
  // files the grant is read from, it would overwrite it.
  const int cache = line_of(given, "oauth2_token_cache");
  if (cache != 0 && ini.secret_source == SecretSource::file &&
      ini.oauth.cache_path == ini.secret_setting) {
    return {cache, "oauth2_token_cache must name another file than password_file"};
  }
  if (cache != 0 && ini.oauth.cache_path == ini.path) {
    return {cache, "oauth2_token_cache must name another file than this one"};
  }
  return {};
}

TlsMode tls_for_port(int port) {
  if (port == 465) return TlsMode::implicit;
  if (port == 587) return TlsMode::starttls;
  return TlsMode::off;
}

// Settings refused at line `number`: nothing of them may be used, least of
// all a grant that would send the secret somewhere or a log that would keep
// the refusal's words.
IniRead refused(const std::string &path, int number, const std::string &reason) {
  IniRead read;
  read.ini.found = true;
  read.ini.path = path;
  read.failure = path + " line " + std::to_string(number) + ": " + reason;
  return read;
}

} // namespace

IniRead parse_quillrun_ini(std::string_view text, const std::string &path) {
  IniRead read;
  read.ini.found = true;
  read.ini.path = path;
  text = utf8::without_byte_order_mark(text);
  KeyLines given{};
  for (int number = 1; !text.empty(); ++number) {
    std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (passed_over(line)) continue;
    std::string reason = take_line(line, number, read.ini, given);
    if (!reason.empty()) return refused(path, number, reason);
  }
  if (line_of(given, "tls") == 0) {
    read.ini.submission.tls = tls_for_port(read.ini.port);
  }
  const Misfit misfit = oauth_misfit(read.ini, given);
  if (misfit.line != 0) return refused(path, misfit.line, misfit.reason);
  if (mints_token(read.ini)) {
    read.ini.submission.auth = AuthMethod::xoauth2;
    if (line_of(given, "oauth2_tenant") != 0 && line_of(given, "oauth2_scope") == 0) {
      read.ini.oauth.scope = oauth::microsoft_scope(read.ini.oauth.type);
    }
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
