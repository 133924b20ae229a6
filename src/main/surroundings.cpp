#include "main/surroundings.h"

#include "config/ca_file.h"
#include "config/secret.h"
#include "intake/sender.h"
#include "oauth/access_token.h"
#include "oauth/token_request.h"
#include "smtp/connection.h"
#include "smtp/port.h"

#include <ctime>

namespace invocation {

const std::string &host_name(Surroundings &around) {
  if (!around.known_host_name) around.known_host_name = smtp::local_host_name();
  return *around.known_host_name;
}

std::string completed_sender(Surroundings &around, const std::string &sender) {
  return intake::completed_sender(
      sender, [&around] { return host_name(around); },
      [&around] { return around.mail_server.domain; });
}

std::string server_host(Surroundings &around, const RunSettings &settings) {
  if (!settings.server_host.empty()) return settings.server_host;
  const std::string &configured = around.quillrun_ini.ini.host;
  return configured.empty() ? host_name(around) : configured;
}

int server_port(const Surroundings &around) {
  return config::submission_port(around.quillrun_ini.ini,
                                 smtp::smtp_port(around.mail_server.smtp_port));
}

SubmissionSetup submission_setup(const Surroundings &around) {
  const config::IniRead &read = around.quillrun_ini;
  if (!read.failure.empty()) return {{}, {smtp::Fault::unusable_settings, {}, read.failure, 0}};
  SubmissionSetup setup{read.ini.submission, {}};
  // The CA decides which server the secret goes to: judged before the
  // secret is read or a token minted with it.
  if (setup.submission.tls != smtp::TlsMode::off) {
    std::string fault = config::read_ca_file(setup.submission.tls_ca_file);
    if (!fault.empty()) return {{}, {smtp::Fault::unusable_settings, {}, std::move(fault), 0}};
  }
  const std::string &user = setup.submission.user;
  if (user.empty()) return setup;
  config::SecretRead secret = config::read_secret(read.ini);
  if (!secret.failure.empty()) {
    return {{}, {smtp::Fault::no_secret, {}, "No password for " + user + ": " + secret.failure, 0}};
  }
  if (!config::mints_token(read.ini)) {
    setup.submission.secret = std::move(secret.secret);
    return setup;
  }
  // The secret is the grant's own; the login's is the token minted with it,
  // before any connection to the SMTP server.
  const oauth::Grant &grant = read.ini.oauth;
  oauth::AccessToken token =
      oauth::access_token(grant, user, secret.secret, oauth::connect_for_token, std::time(nullptr),
                          oauth::CacheUse::any);
  if (!token.failure.empty()) return {{}, {smtp::Fault::no_secret, {}, token.failure, 0}};
  setup.submission.secret = std::move(token.token);
  if (token.from_cache) {
    setup.submission.renew_secret = [grant, user, secret = secret.secret](std::string &fresh) {
      oauth::AccessToken renewed =
          oauth::access_token(grant, user, secret, oauth::connect_for_token, std::time(nullptr),
                              oauth::CacheUse::renew);
      fresh = std::move(renewed.token);
      return renewed.failure.empty()
                 ? smtp::Outcome{}
                 : smtp::Outcome{smtp::Fault::no_secret, {}, std::move(renewed.failure), 0};
    };
  }
  return setup;
}

} // namespace invocation
