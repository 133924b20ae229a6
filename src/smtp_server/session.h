// "-bs": an SMTP session with the caller on standard input and output (RFC
// 5321, server side, lock-step), each step of its messages passed on live to
// the SMTP server, so that mail libraries that speak SMTP to a submission
// command get the server's own verdicts.
#pragma once

#include "smtp/client.h"
#include "smtp/submission.h"

#include <string>

namespace smtp_server {

struct SessionSettings {
  std::string server_host;     ///< the SMTP server, by name or address
  int port = 0;                ///< its port, as configured
  std::string host_name;       ///< the machine's own, for the greeting and EHLO
  std::string sender;          ///< the completed default sender, for MAIL FROM:<>
  std::string work_directory;  ///< for the spool files (g_work; empty: "/tmp")
  smtp::Submission submission; ///< TLS and login toward the server
  smtp::Outcome unusable;      ///< with a fault, the answer to every MAIL: nothing may be sent
  std::string refusal;  ///< when not empty, why nobody is served: the greeting is 421 with it
  std::string log_file; ///< the outcome log: a line for each message; empty: none
};

/// Serves the session until QUIT or the end of standard input; standard
/// output carries replies only. The outcome log gets a line for each
/// message whose MAIL was refused or whose text was taken. True when the server took every message
/// the client began.
bool serve_session(const SessionSettings &settings);

} // namespace smtp_server
