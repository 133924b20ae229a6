// The piped run's delivery: the one SMTP dialogue that hands the spool file
// to the server, its outcome told by messages on standard output.
#pragma once

#include "smtp/client.h"
#include "smtp/submission.h"

#include <cstdio>
#include <string>
#include <vector>

namespace smtp {

struct DeliveryRequest {
  std::string server_host;                              ///< the server, by name or address
  int port = 0;                                         ///< as configured, not cut to 16 bits
  std::string helo_argument;                            ///< for HELO
  std::string envelope_sender;                          ///< for MAIL FROM, in envelope form
  const std::vector<std::string> *recipients = nullptr; ///< for RCPT TO, in envelope form, in order
  std::FILE *spool = nullptr;                           ///< the rewritten message, at its start
  std::string spool_name;                               ///< for messages
  bool eight_bit = false;                               ///< the message holds a byte over 127
  Submission submission;                                ///< TLS and login, when asked for
};

/// What became of the message, for the outcome log.
struct Handover {
  bool delivered = false;
  /// The first line of each recipient's reply, in order, as far as they
  /// were offered before the run ended.
  std::vector<std::string> verdicts;
  std::string final_reply; ///< the first line of the reply to "."; empty: none came
};

/// Connects `client` and runs greeting, HELO (or EHLO, TLS and the login
/// that the submission asks for), MAIL FROM, one RCPT TO per recipient,
/// DATA, the spool file, "." and QUIT, printing each message as it arises.
/// Delivered only when a recipient was accepted and the server took the
/// message after the final ".". Leaves the spool file to the caller.
Handover deliver(Client &client, const DeliveryRequest &request);

} // namespace smtp
