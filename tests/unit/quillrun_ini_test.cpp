#include "config/quillrun_ini.h"

#include "config/secret.h"
#include "platform/path_limit.h"
#include "platform/settings_file.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace config {
namespace {

constexpr const char *kPath = "/etc/quillrun.ini";

const char *tls_name(smtp::TlsMode mode) {
  switch (mode) {
  case smtp::TlsMode::off:
    return "off";
  case smtp::TlsMode::starttls:
    return "starttls";
  case smtp::TlsMode::implicit:
    return "implicit";
  }
  return "?";
}

const char *auth_name(smtp::AuthMethod method) {
  switch (method) {
  case smtp::AuthMethod::offered:
    return "offered";
  case smtp::AuthMethod::plain:
    return "plain";
  case smtp::AuthMethod::login:
    return "login";
  case smtp::AuthMethod::xoauth2:
    return "xoauth2";
  }
  return "?";
}

const char *source_name(SecretSource source) {
  switch (source) {
  case SecretSource::none:
    return "none";
  case SecretSource::file:
    return "file";
  case SecretSource::command:
    return "command";
  case SecretSource::inline_text:
    return "password";
  }
  return "?";
}

// Every setting in one line, so that a row states them all at once.
std::string described(const QuillrunIni &ini) {
  return "host=" + ini.host + " port=" + std::to_string(ini.port) +
         " tls=" + tls_name(ini.submission.tls) + " ca=" + ini.submission.tls_ca_file.path +
         " user=" + ini.submission.user + " auth=" + auth_name(ini.submission.auth) +
         " secret=" + source_name(ini.secret_source) + ":" + ini.secret_setting;
}

TEST(ParseQuillrunIni, TakesEveryKeyAndPassesOverCommentsSectionsAndBlankLines) {
  struct Row {
    const char *name;
    std::string text;
    std::string settings;
  };
  const std::string none = "host= port=0 tls=off ca= user= auth=offered secret=none:";
  const std::vector<Row> rows = {
      {"empty file", "", none},
      {"every key",
       "host smtp.example.com\nport 2525\ntls starttls\ntls_ca_file /etc/ca.pem\nuser alice\n"
       "auth login\npassword_file /etc/quillrun.secret\n",
       "host=smtp.example.com port=2525 tls=starttls ca=/etc/ca.pem user=alice auth=login "
       "secret=file:/etc/quillrun.secret"},
      {"a command with its arguments", "password_command gpg -q -d /etc/token.gpg\n",
       "host= port=0 tls=off ca= user= auth=offered secret=command:gpg -q -d /etc/token.gpg"},
      {"the password itself, inner blanks kept", "password two  words\n",
       "host= port=0 tls=off ca= user= auth=offered secret=password:two  words"},
      {"implicit TLS by default on 465", "port 465\n",
       "host= port=465 tls=implicit ca= user= auth=offered secret=none:"},
      {"STARTTLS by default on 587", "port 587\n",
       "host= port=587 tls=starttls ca= user= auth=offered secret=none:"},
      {"no TLS by default on another port", "port 25\n",
       "host= port=25 tls=off ca= user= auth=offered secret=none:"},
      {"tls given wins over the port", "tls off\nport 465\n",
       "host= port=465 tls=off ca= user= auth=offered secret=none:"},
      {"tls given on another port", "port 2465\ntls implicit\n",
       "host= port=2465 tls=implicit ca= user= auth=offered secret=none:"},
      {"the largest port, leading zeros", "port 065535\n",
       "host= port=65535 tls=off ca= user= auth=offered secret=none:"},
      {"words in capitals", "tls STARTTLS\nauth XOAUTH2\n",
       "host= port=0 tls=starttls ca= user= auth=xoauth2 secret=none:"},
      {"auth plain", "auth plain\n", "host= port=0 tls=off ca= user= auth=plain secret=none:"},
      {"comments, sections, blank lines",
       "# host a\n; host b\n\n \t\n[smtp]\n  # indented\nhost c\n",
       "host=c port=0 tls=off ca= user= auth=offered secret=none:"},
      {"CR LF line ends, last line without one", "host a\r\nuser b",
       "host=a port=0 tls=off ca= user=b auth=offered secret=none:"},
      {"byte order mark", "\xEF\xBB\xBFhost a\n",
       "host=a port=0 tls=off ca= user= auth=offered secret=none:"},
      {"blanks around the value and before the key", "  host\t a b \t\r\n",
       "host=a b port=0 tls=off ca= user= auth=offered secret=none:"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    IniRead read = parse_quillrun_ini(row.text, kPath);
    EXPECT_EQ(read.failure, "");
    EXPECT_TRUE(read.ini.found);
    EXPECT_EQ(read.ini.path, kPath);
    EXPECT_EQ(described(read.ini), row.settings);
  }
}

TEST(ParseQuillrunIni, AnUnknownKeyOrABadValueNamesTheFileTheLineAndTheKey) {
  struct Row {
    const char *name;
    std::string text;
    std::string failure;
  };
  const std::vector<Row> rows = {
      {"a misspelt key", "user alice\npasword_file /etc/pw\n",
       "/etc/quillrun.ini line 2: unknown key pasword_file"},
      {"an unclosed section", "[smtp\n", "/etc/quillrun.ini line 1: not a key and its value"},
      {"lines counted past comments, CR LF and blank lines", "# x\r\n\r\n[s]\r\nport x\r\n",
       "/etc/quillrun.ini line 4: port must be a number from 1 to 65535"},
      {"port 0", "port 0\n", "/etc/quillrun.ini line 1: port must be a number from 1 to 65535"},
      {"port 65536", "port 65536\n",
       "/etc/quillrun.ini line 1: port must be a number from 1 to 65535"},
      {"a port past any integer", "port 99999999999999999999\n",
       "/etc/quillrun.ini line 1: port must be a number from 1 to 65535"},
      {"a signed port", "port +587\n",
       "/etc/quillrun.ini line 1: port must be a number from 1 to 65535"},
      {"a port with a blank inside", "port 5 87\n",
       "/etc/quillrun.ini line 1: port must be a number from 1 to 65535"},
      {"tls", "tls yes\n", "/etc/quillrun.ini line 1: tls must be starttls, implicit or off"},
      {"auth", "auth cram-md5\n", "/etc/quillrun.ini line 1: auth must be plain, login or xoauth2"},
      {"a key without a value", "host smtp\nuser \t\r\n",
       "/etc/quillrun.ini line 2: user has no value"},
      {"a key given twice", "host a\nhost b\n", "/etc/quillrun.ini line 2: host is given twice"},
      {"two secret sources", "password_file /a\npassword_command cat /b\n",
       "/etc/quillrun.ini line 2: only one of password_file, password_command and password may "
       "be given"},
      {"a password beside a file", "password x\npassword_file /a\n",
       "/etc/quillrun.ini line 2: only one of password_file, password_command and password may "
       "be given"},
      // Every value bounded by what its key can use; a message quotes 200 bytes at most.
      {"a host of 256 bytes", "host " + std::string(256, 'h') + "\n",
       "/etc/quillrun.ini line 1: host is longer than 255 bytes"},
      {"a command over 8 KiB", "password_command " + std::string(8193, 'c') + "\n",
       "/etc/quillrun.ini line 1: password_command is longer than 8192 bytes"},
      {"a path past the system's", "tls_ca_file " + std::string(platform::kLongestPath + 1, 'p'),
       "/etc/quillrun.ini line 1: tls_ca_file is longer than " +
           std::to_string(platform::kLongestPath) + " bytes"},
      {"a long unknown key", std::string(1000, 'k') + " v\n",
       "/etc/quillrun.ini line 1: unknown key " + std::string(200, 'k') + "..."},
      // The value written onto its key, or a word alone, may be the secret:
      // never shown.
      {"a key and its value joined by =", "log_file /var/log/q\npassword= hunter2\n",
       "/etc/quillrun.ini line 2: unknown key password=..."},
      {"a key and its value joined by :", "password:hunter2 x\n",
       "/etc/quillrun.ini line 1: unknown key password:..."},
      {"a secret alone on its line", "hunter2secret\n",
       "/etc/quillrun.ini line 1: not a key and its value"},
      {"a no-break space for a blank", "password\xC2\xA0hunter2\n",
       "/etc/quillrun.ini line 1: not a key and its value"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const IniRead read = parse_quillrun_ini(row.text, kPath);
    EXPECT_EQ(read.failure, row.failure);
    // Nothing of refused settings is used: no log would keep the refusal.
    EXPECT_TRUE(read.ini.log_file.empty());
  }
  const std::string longest = "host " + std::string(255, 'h') + "\n";
  EXPECT_EQ(parse_quillrun_ini(longest, kPath).failure, "");
}

// The grant as one line: its endpoint, client, scope, client secret, cache
// and proxy, and the mechanism it implies.
std::string described_grant(const QuillrunIni &ini) {
  const oauth::Grant &grant = ini.oauth;
  return std::string(grant.type == oauth::GrantType::client_credentials ? "cc" : "rt") +
         " url=" + grant.token_url + " id=" + grant.client_id + " scope=" + grant.scope +
         " cs=" + grant.client_secret + " cache=" + grant.cache_path + " proxy=" + grant.proxy +
         " auth=" + auth_name(ini.submission.auth);
}

TEST(ParseQuillrunIni, TheOauth2KeysMakeAGrantOnlyWhenTheyFitTogether) {
  struct Row {
    const char *name;
    std::string text;
    std::string grant_or_failure; ///< described_grant, or the failure after "line "
  };
  const std::string base = "user box@example.com\npassword_file /etc/s\n";
  const std::string microsoft =
      "https://login.microsoftonline.com/contoso.example/oauth2/v2.0/token";
  const std::vector<Row> rows = {
      {"Microsoft app-only: the endpoint and scope from the tenant",
       base +
           "oauth2_grant client_credentials\noauth2_tenant contoso.example\noauth2_client_id c1\n",
       "cc url=" + microsoft +
           " id=c1 scope=https://outlook.office365.com/.default cs= cache= "
           "proxy= auth=xoauth2"},
      {"Microsoft delegated, with a cache and a proxy",
       base + "oauth2_grant refresh_token\noauth2_tenant contoso.example\noauth2_client_id c1\n"
              "oauth2_token_cache /var/lib/q/token\noauth2_proxy proxy.example:3128\n",
       "rt url=" + microsoft +
           " id=c1 scope=https://outlook.office.com/SMTP.Send offline_access "
           "cs= cache=/var/lib/q/token proxy=proxy.example:3128 auth=xoauth2"},
      {"Google: its URL, the scope given, an installed app's client secret",
       base +
           "oauth2_grant refresh_token\noauth2_token_url https://oauth2.googleapis.com/token\n"
           "oauth2_client_id g1\noauth2_scope https://mail.google.com/\noauth2_client_secret gs\n",
       "rt url=https://oauth2.googleapis.com/token id=g1 scope=https://mail.google.com/ cs=gs "
       "cache= proxy= auth=xoauth2"},
      {"the scope given wins over the tenant's",
       base +
           "oauth2_grant client_credentials\noauth2_tenant t\noauth2_client_id c\noauth2_scope s\n",
       "cc url=https://login.microsoftonline.com/t/oauth2/v2.0/token id=c scope=s cs= cache= "
       "proxy= auth=xoauth2"},
      {"auth xoauth2 given too",
       base + "auth xoauth2\noauth2_grant client_credentials\n"
              "oauth2_tenant t\noauth2_client_id c\noauth2_scope s\n",
       "cc url=https://login.microsoftonline.com/t/oauth2/v2.0/token id=c scope=s cs= cache= "
       "proxy= auth=xoauth2"},
      {"an unknown grant", "oauth2_grant password\n",
       "1: oauth2_grant must be client_credentials or refresh_token"},
      {"a tenant that would change the URL", "oauth2_tenant a/../b\n",
       "1: oauth2_tenant must be a domain name or a tenant ID"},
      {"a token URL in clear text", "oauth2_token_url http://login.test/token\n",
       "1: oauth2_token_url must be an https URL"},
      {"a proxy without its port", "oauth2_proxy proxy.example\n",
       "1: oauth2_proxy must be HOST:PORT"},
      {"a tenant and a token URL", "oauth2_tenant t\noauth2_token_url https://login.test/t\n",
       "2: only one of oauth2_tenant and oauth2_token_url may be given"},
      {"a key without the grant", base + "oauth2_client_id c\n",
       "3: oauth2_client_id needs oauth2_grant"},
      {"no endpoint", base + "oauth2_grant client_credentials\noauth2_client_id c\n",
       "3: oauth2_grant needs oauth2_tenant or oauth2_token_url"},
      {"no client", base + "oauth2_grant client_credentials\noauth2_tenant t\n",
       "3: oauth2_grant needs oauth2_client_id"},
      {"no user", "oauth2_grant client_credentials\noauth2_tenant t\noauth2_client_id c\n",
       "1: oauth2_grant needs user"},
      {"another mechanism",
       base + "auth plain\noauth2_grant client_credentials\noauth2_tenant t\n"
              "oauth2_client_id c\n",
       "3: auth must be xoauth2 with oauth2_grant"},
      {"a client secret beside client credentials",
       base + "oauth2_grant client_credentials\noauth2_tenant t\noauth2_client_id c\n"
              "oauth2_client_secret x\n",
       "6: oauth2_client_secret is for the refresh_token grant"},
      {"the cache where the client secret is read",
       base + "oauth2_grant client_credentials\noauth2_tenant t\noauth2_client_id c\n"
              "oauth2_token_cache /etc/s\n",
       "6: oauth2_token_cache must name another file than password_file"},
      {"the cache in place of quillrun.ini",
       base +
           "oauth2_grant client_credentials\noauth2_tenant t\noauth2_client_id c\n"
           "oauth2_token_cache " +
           std::string(kPath) + "\n",
       "6: oauth2_token_cache must name another file than this one"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    IniRead read = parse_quillrun_ini(row.text, kPath);
    if (read.failure.empty()) {
      EXPECT_TRUE(mints_token(read.ini));
      EXPECT_EQ(described_grant(read.ini), row.grant_or_failure);
    } else {
      EXPECT_EQ(read.failure, std::string(kPath) + " line " + row.grant_or_failure);
      EXPECT_FALSE(mints_token(read.ini));
    }
  }
}

TEST(SubmissionPort, ThePortGivenElseTheOneOfTheTlsModeElseTheMailServers) {
  struct Row {
    const char *text;
    int port;
  };
  const std::vector<Row> rows = {
      {"port 2525\ntls implicit\n", 2525},
      {"tls starttls\n", 587},
      {"tls implicit\n", 465},
      {"user alice\n", 26},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(submission_port(parse_quillrun_ini(row.text, kPath).ini, 26), row.port);
  }
}

// QUILLRUN_INI set for the length of a test.
struct NamedSettings {
  explicit NamedSettings(const std::string &path) {
#ifdef _WIN32
    _putenv_s(kQuillrunIniVariable, path.c_str());
#else
    setenv(kQuillrunIniVariable, path.c_str(), 1);
#endif
  }
  ~NamedSettings() {
#ifdef _WIN32
    _putenv_s(kQuillrunIniVariable, "");
#else
    unsetenv(kQuillrunIniVariable);
#endif
  }
};

TEST(ReadQuillrunIni, ReadsTheFileQuillrunIniNamesWhichMustBeThere) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("quillrun.ini");
  unit::write_file(path, "host smtp.example.com\nport 465\n");
  {
    NamedSettings named(path);
    IniRead read = read_quillrun_ini();
    EXPECT_EQ(read.failure, "");
    EXPECT_TRUE(read.ini.found);
    EXPECT_EQ(read.ini.path, path);
    EXPECT_EQ(read.ini.host, "smtp.example.com");
    EXPECT_EQ(read.ini.submission.tls, smtp::TlsMode::implicit);
  }
  const std::string missing = scratch.file("missing.ini");
  NamedSettings named(missing);
  IniRead read = read_quillrun_ini();
  EXPECT_FALSE(read.ini.found);
  EXPECT_EQ(read.failure, missing + ": cannot be read (No such file or directory)");
}

TEST(ReadQuillrunIni, AMissingDefaultFileIsNoSettingsFileAndNoFailure) {
  if (std::filesystem::exists(platform::default_settings_path())) {
    GTEST_SKIP() << platform::default_settings_path() << " exists on this machine";
  }
  IniRead read = read_quillrun_ini();
  EXPECT_EQ(read.failure, "");
  EXPECT_FALSE(read.ini.found);
  NamedSettings empty("");
  EXPECT_EQ(read_quillrun_ini().failure, "") << "an empty QUILLRUN_INI names no file";
}

#ifdef _WIN32
TEST(DefaultSettingsPath, IsQuillrunIniBesideTheExecutable) {
  char module[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
  std::string folder(module, length);
  folder.resize(folder.find_last_of('\\') + 1);
  EXPECT_EQ(platform::default_settings_path(), folder + "quillrun.ini");
}
#else
TEST(ReadQuillrunIni, AFifoOrADirectoryNamedIsRefusedNeverWaitedOn) {
  unit::ScratchDirectory scratch;
  const std::string fifo = scratch.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string &path : {fifo, scratch.path.string()}) {
    SCOPED_TRACE(path);
    NamedSettings named(path);
    EXPECT_EQ(read_quillrun_ini().failure, path + ": cannot be read (not a regular file)");
  }
}

TEST(ReadQuillrunIni, APasswordIsJudgedByTheOpeningItWasReadInNeverASecondLook) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("quillrun.ini");
  unit::write_file(path, "user a\npassword x\n");
  NamedSettings named(path);
  struct Row {
    mode_t when_read;
    mode_t after;
    std::string failure;
  };
  const std::vector<Row> rows = {
      {0644, 0600,
       path + " may be read by others (chmod 600 " + path + ", or chmod 640 " + path +
           " with the web server's group)"},
      {0600, 0644, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.when_read);
    ASSERT_EQ(chmod(path.c_str(), row.when_read), 0);
    IniRead read = read_quillrun_ini();
    ASSERT_EQ(chmod(path.c_str(), row.after), 0);
    SecretRead secret = read_secret(read.ini);
    EXPECT_EQ(secret.failure, row.failure);
    EXPECT_EQ(secret.secret, row.failure.empty() ? "x" : "");
  }
}

TEST(ReadQuillrunIni, OneOthersMayHaveWrittenOrTooLargeIsASettingsFault) {
  unit::ScratchDirectory scratch;
  const std::string folder = scratch.file("open");
  const std::string path = folder + "/quillrun.ini";
  std::filesystem::create_directory(folder);
  struct Row {
    const char *name;
    mode_t mode;
    mode_t folder_mode;
    std::string text;
    std::string failure;
  };
  const std::vector<Row> rows = {
      {"others may write it", 0666, 0755, "host h\n",
       path + ": may be written by others (chmod go-w " + path + ")"},
      {"in a folder others may write", 0644, 0777, "host h\n",
       path + ": is in a folder others may write (chmod go-w " + folder + ", or chmod +t " +
           folder + ")"},
      {"64 KiB", 0644, 0755, std::string(64 * 1024, '#'), ""},
      {"larger than 64 KiB", 0644, 0755, std::string(64 * 1024 + 1, '#'),
       path + ": larger than 64 KiB"},
  };
  NamedSettings named(path);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    unit::write_file(path, row.text);
    ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
    ASSERT_EQ(chmod(folder.c_str(), row.folder_mode), 0);
    IniRead read = read_quillrun_ini();
    EXPECT_EQ(read.failure, row.failure);
    EXPECT_EQ(read.ini.found, row.failure.empty());
  }
}
#endif

} // namespace
} // namespace config
