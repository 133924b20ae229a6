// Delivery: the one SMTP dialogue that hands the spool file to the server.
#pragma once

#include <string>
#include <vector>

namespace smtp {

struct DeliveryRequest {
  std::string server_host;                              ///< empty: the machine's own host name
  std::string helo_argument;                            ///< for HELO
  std::string envelope_sender;                          ///< for MAIL FROM, in envelope form
  const std::vector<std::string> *recipients = nullptr; ///< list entries, in order
  std::string spool_name;
  bool debug = false;
};

struct DeliveryOutcome {
  bool delivered = false;
  std::string messages;     ///< for standard output, in order
  std::string error_stream; ///< for standard error
};

/// Connects to the server on the configured port and runs greeting, HELO,
/// MAIL FROM, one RCPT TO per recipient, DATA, the spool file, "." and QUIT.
/// Delivered only when a recipient was accepted and the server took the
/// message after the final ".". Leaves the spool file in place.
DeliveryOutcome deliver(const DeliveryRequest &request);

} // namespace smtp
