// Delivery: the one SMTP dialogue that hands the spool file to the server.
#pragma once

#include "smtp/time_limits.h"

#include <cstdio>
#include <string>
#include <vector>

namespace smtp {

inline constexpr const char *kNoWelcome = "-ERR Unable to read welcome from SMTP server\n";
inline constexpr const char *kNoHeloReply = "-ERR Unable to read helo response from SMTP server\n";
inline constexpr const char *kNoReply = "-ERR Unable to read response from server\n";

/// The message for a reply nobody asked for, of which `line` is the first line.
std::string unexpected_reply_message(const std::string &line);

struct DeliveryRequest {
  std::string server_host;                              ///< empty: the machine's own host name
  std::string helo_argument;                            ///< for HELO
  std::string envelope_sender;                          ///< for MAIL FROM, in envelope form
  const std::vector<std::string> *recipients = nullptr; ///< for RCPT TO, in envelope form, in order
  std::FILE *spool = nullptr;                           ///< the rewritten message, at its start
  std::string spool_name;                               ///< for messages
  bool debug = false;
  TimeLimits limits;
};

/// Connects to the server on the configured port and runs greeting, HELO,
/// MAIL FROM, one RCPT TO per recipient, DATA, the spool file, "." and QUIT,
/// printing each message as it arises. True (delivered) only when a
/// recipient was accepted and the server took the message after the final
/// ".". Leaves the spool file to the caller.
bool deliver(const DeliveryRequest &request);

} // namespace smtp
