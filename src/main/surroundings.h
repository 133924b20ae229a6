// What a delivery run or a "-bs" session takes from outside its command line:
// the mail server's configuration file and quillrun.ini, each read once, the
// CA file and the login's secret, and the machine's host name, asked for
// once when needed.
#pragma once

#include "config/mail_server_config.h"
#include "config/quillrun_ini.h"
#include "main/command_line.h"
#include "smtp/client.h"
#include "smtp/submission.h"

#include <optional>
#include <string>

namespace invocation {

struct Surroundings {
  config::MailServerConfig mail_server = config::read_mail_server_config();
  config::IniRead quillrun_ini; ///< read once, at the start of the run
  std::optional<std::string> known_host_name;
};

/// The machine's host name, asked for on the first call only.
const std::string &host_name(Surroundings &around);

/// `sender` completed with "@" and a domain when it has none.
std::string completed_sender(Surroundings &around, const std::string &sender);

/// The server: "-host", else quillrun.ini's `host`, else the machine itself.
std::string server_host(Surroundings &around, const RunSettings &settings);

/// The port: quillrun.ini's (or its TLS mode's), else g_smtp_port's, else 25.
int server_port(const Surroundings &around);

/// How to submit, with the secret read when a login is asked for.
struct SubmissionSetup {
  smtp::Submission submission;
  /// Why nothing may be sent, if anything: Fault::unusable_settings or
  /// Fault::no_secret, its words (without "-ERR") the detail.
  smtp::Outcome unusable;
};

/// The submission quillrun.ini asks for: its TLS with the text of its
/// `tls_ca_file` (config::read_ca_file), and its login, the secret read
/// ("No password for USER: REASON" when it cannot be); or the fault of
/// quillrun.ini or of its `tls_ca_file`.
SubmissionSetup submission_setup(const Surroundings &around);

} // namespace invocation
