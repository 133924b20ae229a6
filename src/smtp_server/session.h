// "-bs": an SMTP session with the caller on standard input and output (RFC
// 5321, server side, lock-step), each step of its messages passed on live to
// the SMTP server, so that mail libraries that speak SMTP to a submission
// command get the server's own verdicts.
#pragma once

#include <string>

namespace smtp_server {

struct SessionSettings {
  std::string server_host; ///< empty: the machine's own host name
  std::string sender;      ///< the completed default sender, for MAIL FROM:<>
  bool debug = false;
  std::string refusal; ///< when not empty, why nobody is served: the greeting is 421 with it
};

/// Serves the session until QUIT or the end of standard input; standard
/// output carries replies only. True when the server took every message the
/// client began.
bool serve_smtp_session(const SessionSettings &settings);

} // namespace smtp_server
