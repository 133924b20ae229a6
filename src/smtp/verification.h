// "-bv": the settings, the sender and the recipients checked with the server
// over the very connection a delivery would make, and nothing sent. What it
// learns it prints one fact a line, for a person to read.
#pragma once

#include "smtp/client.h"
#include "smtp/submission.h"

#include <ctime>
#include <string>
#include <vector>

namespace smtp {

struct VerificationRequest {
  std::string server_host;                              ///< the server, by name or address
  int port = 0;                                         ///< as configured, not cut to 16 bits
  std::string helo_argument;                            ///< for HELO or EHLO
  std::string envelope_sender;                          ///< for MAIL FROM, in envelope form
  const std::vector<std::string> *recipients = nullptr; ///< for RCPT TO, in envelope form, in order
  Submission submission;                                ///< TLS and login, when asked for
  std::time_t now = 0; ///< the run's time, from which a certificate's days left are counted
};

/// Connects `client` and opens the dialogue as a delivery does (greeting,
/// HELO, or EHLO, TLS and the login the submission asks for), then sends
/// MAIL FROM, one RCPT TO per recipient, RSET and QUIT. Prints the server
/// and its address, TLS and the certificate, the extensions offered, the
/// login, and the server's verdict on the sender and on each recipient; a
/// step that ends the dialogue in the very words a delivery prints for it.
/// True only when every step passed and every recipient was accepted.
bool verify(Client &client, const VerificationRequest &request);

} // namespace smtp
