// quillrun.ini: quillrun's own settings, for submission to a provider's
// server over TLS with a login. Without the file nothing changes: the mail
// server's configuration and the command line decide, as always.
//
// A line is a key, blanks (spaces or tabs) and the value to the end of the
// line, trailing blanks and CR removed; lines starting with "#" or ";",
// blank lines and section lines ("[...]") are passed over. An unknown key or
// a bad value is an error naming the file, the line and the key, never
// passed over: a misspelt key must not send without the login it meant.
#pragma once

#include "oauth/grant.h"
#include "platform/settings_file.h"
#include "smtp/submission.h"

#include <string>
#include <string_view>

namespace config {

inline constexpr const char *kQuillrunIniVariable = "QUILLRUN_INI";

/// Where the secret for the login comes from: exactly one source, or none.
enum class SecretSource { none, file, command, inline_text };

struct QuillrunIni {
  bool found = false; ///< a settings file was read
  std::string path;   ///< the file, as named, for messages
  std::string host;   ///< `host`; empty: not set ("-host" wins over it)
  int port = 0;       ///< `port`, 1 to 65535; 0: not set
  /// `tls` (when absent: implicit for port 465, starttls for 587, else
  /// off), `tls_ca_file`, `user` and `auth`; the secret is not read here.
  smtp::Submission submission;
  SecretSource secret_source = SecretSource::none;
  /// The `password_file` path, the `password_command`, or the `password`.
  std::string secret_setting;
  /// Who else may reach the file, from the opening it was read in: a
  /// `password` is judged by it, never by a second look at the name.
  platform::Exposure exposure = platform::Exposure::owner_only;
  /// The OAuth 2.0 grant that mints the XOAUTH2 token (the oauth2_ keys);
  /// the secret source then yields the grant's own secret. Its token_url is
  /// empty when no token is to be minted.
  oauth::Grant oauth;
  /// `log_directory`: where quillrun.log and quillrun.debug go; empty: the
  /// current directory.
  std::string log_directory;
  /// `log_file`: the outcome log, a line for each message; empty: none.
  std::string log_file;
};

/// Whether quillrun.ini asks quillrun to mint the login's token itself.
inline bool mints_token(const QuillrunIni &ini) { return !ini.oauth.token_url.empty(); }

struct IniRead {
  QuillrunIni ini;
  /// "FILE line N: REASON", or "FILE: cannot be read (REASON)" (no "-ERR",
  /// no line end); empty when sound
  std::string failure;
};

/// The settings of `text`, the contents of the file `path` (found is set;
/// the exposure is the caller's to set).
/// The first unknown key or bad value is the failure: "unknown key KEY"
/// (KEY cut to 200 bytes), "KEY has no value", "KEY is given twice", "KEY
/// is longer than N bytes" (past what the key can use), "port must be a
/// number from 1 to 65535", "tls must be starttls, implicit or off", "auth
/// must be plain, login or xoauth2", "only one of password_file,
/// password_command and password may be given"; and for the oauth2_ keys
/// "oauth2_grant must be client_credentials or refresh_token",
/// "oauth2_tenant must be a domain name or a tenant ID", "oauth2_token_url
/// must be an https URL", "oauth2_proxy must be HOST:PORT", "only one of
/// oauth2_tenant and oauth2_token_url may be given", "KEY needs
/// oauth2_grant", "oauth2_grant needs oauth2_tenant or oauth2_token_url",
/// "oauth2_grant needs oauth2_client_id", "oauth2_grant needs user", "auth
/// must be xoauth2 with oauth2_grant", "oauth2_client_secret is for the
/// refresh_token grant", "oauth2_token_cache must name another file than
/// password_file", "oauth2_token_cache must name another file than this
/// one" (`path` as given). The oauth2_ keys imply auth xoauth2, and with
/// oauth2_tenant Microsoft's scope for the grant unless oauth2_scope is given.
IniRead parse_quillrun_ini(std::string_view text, const std::string &path);

/// The settings file: the one QUILLRUN_INI names (when set and not empty),
/// else "/etc/quillrun.ini" (on Windows "quillrun.ini" in the folder of
/// quillrun.exe). A default file that does not exist is no settings file,
/// and no failure; one that QUILLRUN_INI names, or a default one that
/// exists, must be a readable regular file, else the failure is "FILE:
/// cannot be read (REASON)". One that may not be trusted (its standing, see
/// platform::Standing) is "FILE: REASON" with config::standing_fault's
/// words; one of more than 64 KiB is "FILE: larger than 64 KiB". The file
/// is opened once; its exposure is kept.
IniRead read_quillrun_ini();

/// The port to connect to: `port` when set, else 587 for STARTTLS and 465
/// for implicit TLS, else `mail_server_port` (from g_smtp_port).
int submission_port(const QuillrunIni &ini, int mail_server_port);

} // namespace config
