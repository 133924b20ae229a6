#include "smtp/fault_text.h"

#include "smtp/connection.h"

namespace smtp {
namespace {

// By Awaited: the words callers have long seen for each missing reply.
constexpr const char *kNoReply[] = {"Unable to read welcome from SMTP server",
                                    "Unable to read helo response from SMTP server",
                                    "Unable to read response from server"};

} // namespace

std::string fault_text(const Client &client, const Outcome &outcome, Awaited awaited) {
  const std::string &host = client.server;
  switch (outcome.fault) {
  case Fault::none:
    break;
  case Fault::no_connection:
    return connection_failure(host, client.port, outcome.error);
  case Fault::no_reply:
    return kNoReply[static_cast<int>(awaited)];
  case Fault::unasked_reply:
    return "Unexpected reply from server (" + outcome.detail + ")";
  case Fault::send_failed:
    return "Connection lost while sending the message";
  case Fault::unreadable_text:
    return "Could not read " + outcome.detail;
  case Fault::ehlo_refused:
    return invalid_response(first_line(outcome.reply));
  case Fault::tls_failed:
    return "TLS with " + host + " failed: " + outcome.detail;
  case Fault::no_starttls:
    return host + " offers no STARTTLS; nothing sent in clear text";
  case Fault::login_without_tls:
    return "Not logging in to " + host + " without TLS";
  case Fault::no_login_method:
    return host + " offers no login method quillrun can use (" +
           (outcome.detail.empty() ? "none" : outcome.detail) + ")";
  case Fault::login_refused:
    return "Authentication failed (" + first_line(outcome.reply) + ")";
  case Fault::unusable_settings:
  case Fault::no_secret:
    return outcome.detail;
  }
  return {};
}

std::string invalid_response(std::string_view line) {
  return "Invalid smtp response (" + std::string(line) + ")";
}

} // namespace smtp
