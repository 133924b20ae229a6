// The keys quillrun reads from the local mail server's configuration file.
#pragma once

#include <string>
#include <string_view>

namespace config {

inline constexpr const char *kConfigPath = "/etc/tidewharf.ini";

inline constexpr const char *kSmtpPortKey = "g_smtp_port";
inline constexpr const char *kWorkDirectoryKey = "g_work";
inline constexpr const char *kDomainKey = "g_quillrun_domain";

/// The value of `key` in `text`, the file's contents: the first token after
/// the key on the first line whose first token is the key and that has a
/// value token. Empty when there is no such line.
std::string ini_value(std::string_view text, std::string_view key);

/// The values quillrun takes from the mail server; each empty when unset.
struct MailServerConfig {
  std::string smtp_port;      ///< g_smtp_port
  std::string work_directory; ///< g_work
  std::string domain;         ///< g_quillrun_domain
};

/// The three keys of the configuration file, read in one opening of it; all
/// empty when the file cannot be read.
MailServerConfig read_mail_server_config();

} // namespace config
