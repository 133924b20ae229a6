// The outcome log, quillrun.ini's log_file: one line for each message
// quillrun tried to hand over, for the administrator who learns nothing else
// of it (PHP's mail() tells its caller only true or false).
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace logs {

struct RecipientVerdict {
  std::string address; ///< in envelope form
  std::string reply;   ///< the first line of the server's reply; empty: never offered
};

/// What became of one message.
struct MessageOutcome {
  std::time_t time = 0;
  std::string server;
  int port = 0;
  std::string tls;    ///< the TLS version; empty: none
  std::string user;   ///< the login's user; empty: no login
  std::string sender; ///< in envelope form
  std::vector<RecipientVerdict> recipients;
  long long size = -1;     ///< the message's bytes as taken in; -1: never taken in
  std::string final_reply; ///< the first line of the reply to "."; empty: none came
  int status = 1;          ///< the run's exit status, or for "-bs" 0 when the server took it
  std::string failure;     ///< on failure the line quillrun printed (or "-bs" replied)
};

/// The line, with its line feed: the time in ISO 8601 UTC, then
/// "server=HOST:PORT tls=VERSION|none user=USER|none from=SENDER", one
/// "rcpt=ADDRESS:\"REPLY\"" for each recipient ("rcpt=ADDRESS:-" when never
/// offered), "size=BYTES|-", "reply=\"REPLY\"|-", "status=N", and on failure
/// "error=\"LINE\"". Every value is escaped as the invocation record's
/// arguments are, a double quote as "\x22" and, outside quotes, a blank as
/// "\x20": no value can end a field or the line early, so no line can be
/// forged.
std::string outcome_line(const MessageOutcome &outcome);

/// Appends the line of `outcome` to the log `path`, opened as the
/// invocation log is (never through a link or a FIFO, created readable by
/// its owner alone); a log that cannot be written is passed over in silence.
void append_outcome(const std::string &path, const MessageOutcome &outcome);

} // namespace logs
