#include "smtp_server/session.h"

#include "intake/copy_message.h"
#include "intake/recipients.h"
#include "intake/sender.h"
#include "intake/spool_file.h"
#include "io/block_reader.h"
#include "log/outcome_log.h"
#include "platform/private_file.h"
#include "platform/system.h"
#include "smtp_server/command.h"
#include "smtp_server/data_text.h"
#include "smtp_server/relay.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace smtp_server {
namespace {

// Longer command lines are refused whole (RFC 5321 4.5.3.1.4 allows 512).
constexpr std::size_t kMaxCommandLine = 1000;
// RFC 5321 4.5.3.2.7: a server waits at least 5 minutes for the client.
constexpr int kClientWaitMs = 5 * 60 * 1000;
// Without a To line the header names nobody: never the recipients, which
// would show the Bcc ones to everyone.
constexpr const char *kNobodyNamed = "undisclosed-recipients:;";

// The program that speaks SMTP to quillrun, on standard input and output.
struct Caller {
  io::BlockReader input{[](char *buffer, std::size_t capacity) -> long {
    if (!platform::wait_for_standard_input(kClientWaitMs)) {
      errno = ETIMEDOUT;
      return -1;
    }
    return platform::read_standard_input(buffer, capacity);
  }};
  bool gone = false; ///< standard output could not be written
};

// The client's mail transaction, from its accepted MAIL to its end.
struct Transaction {
  bool open = false;       ///< the server took MAIL
  std::string from_value;  ///< for a From line the message lacks
  std::size_t offered = 0; ///< RCPT commands passed on
  std::size_t accepted = 0;
  std::string sender;                             ///< MAIL's reverse path, for the outcome log
  std::vector<logs::RecipientVerdict> recipients; ///< each RCPT's path and the server's reply
};

struct Session {
  const SessionSettings &settings;
  Caller caller;
  Relay relay;
  Transaction transaction;
  /// The server still holds a transaction of the client's that has ended
  /// here (its message was never sent): the next MAIL resets it first.
  bool server_transaction_open = false;
  bool all_taken = true;
};

void reply(Caller &caller, const std::string &text) {
  const std::string line = text + "\r\n";
  caller.gone = caller.gone || std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
                std::fflush(stdout) != 0;
}

enum class LineRead { line, too_long, ended };

// The next command line, without its line end. The rest of a line over the
// limit is read and dropped, never taken as a command.
LineRead read_command_line(io::BlockReader &input, std::string &line) {
  line.clear();
  bool too_long = false;
  for (;;) {
    std::string_view bytes = io::unconsumed(input);
    if (bytes.empty()) return LineRead::ended;
    const std::size_t newline = bytes.find('\n');
    const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline;
    // Room for the limit, a CR and one character more to tell a longer line.
    const std::size_t room = kMaxCommandLine + 2 - line.size();
    too_long = too_long || end > room;
    if (!too_long) line.append(bytes.substr(0, end));
    io::consume(input, newline == std::string_view::npos ? bytes.size() : newline + 1);
    if (newline != std::string_view::npos) break;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return too_long || line.size() > kMaxCommandLine ? LineRead::too_long : LineRead::line;
}

// The outcome log's line for the client's message: `reply` is what the
// client was told of it last.
void note_outcome(const Session &session, const std::string &reply, long long size) {
  const SessionSettings &settings = session.settings;
  if (settings.log_file.empty()) return;
  const Relay &relay = session.relay;
  const bool taken = reply.starts_with('2');
  logs::MessageOutcome outcome;
  outcome.time = std::time(nullptr);
  outcome.server = settings.server_host;
  outcome.port = settings.port;
  if (relay.client.tls) outcome.tls = platform::protocol_name(relay.client.tls->version);
  outcome.user = relay.submission.user;
  outcome.sender = session.transaction.sender;
  outcome.recipients = session.transaction.recipients;
  outcome.size = size;
  if (size >= 0 && !reply.empty()) outcome.final_reply = reply;
  outcome.status = taken ? 0 : 1;
  if (!taken) outcome.failure = reply;
  logs::append_outcome(settings.log_file, outcome);
}

void end_transaction(Session &session, bool taken) {
  session.all_taken = session.all_taken && taken;
  session.transaction = Transaction{};
  // A signal from here on tells the caller whether every message went.
  platform::set_ending_status(session.all_taken ? 0 : 1);
}

// What a relayed step did to the server's transaction; the client's cannot
// go on once the server's has ended.
void follow_server(Session &session, const Relayed &relayed) {
  if (!relayed.ended) return;
  session.server_transaction_open = false;
  if (session.transaction.open) end_transaction(session, false);
}

void on_mail(Session &session, std::string_view argument) {
  if (session.transaction.open) return reply(session.caller, "503 5.5.1 Sender already specified");
  std::optional<std::string> path = parse_path(argument, "FROM:", true);
  if (!path) return reply(session.caller, "501 5.1.7 Bad sender address syntax");
  const std::string &sender = session.settings.sender;
  // HELO is never empty: a null or domainless sender says the default's.
  std::string helo = intake::helo_argument(*path);
  if (helo.empty()) helo = intake::helo_argument(sender);
  if (helo.empty()) helo = session.settings.host_name;
  Relayed mail = relay_mail(session.relay, *path, helo, session.server_transaction_open,
                            declares_8bitmime(argument));
  reply(session.caller, mail.reply);
  session.server_transaction_open = !mail.ended;
  session.transaction.sender = *path;
  if (!positive(mail)) {
    note_outcome(session, mail.reply, -1);
    return end_transaction(session, false);
  }
  session.transaction.open = true;
  session.transaction.from_value = *path == "<>" ? intake::from_value(sender) : *path;
  platform::set_ending_status(1);
}

void on_rcpt(Session &session, std::string_view argument) {
  Transaction &transaction = session.transaction;
  if (!transaction.open) return reply(session.caller, "503 5.5.1 Need MAIL before RCPT");
  std::optional<std::string> path = parse_path(argument, "TO:", false);
  if (!path) return reply(session.caller, "501 5.1.3 Bad recipient address syntax");
  if (transaction.offered == intake::kMaxRecipients) {
    return reply(session.caller, "452 4.5.3 Too many recipients");
  }
  ++transaction.offered;
  Relayed rcpt = relay_rcpt(session.relay, *path);
  if (positive(rcpt)) ++transaction.accepted;
  transaction.recipients.push_back({*path, rcpt.reply});
  reply(session.caller, rcpt.reply);
  follow_server(session, rcpt);
}

// Reads the text after DATA to its "." line into `spool`, through the same
// intake as a piped message; the text's bytes after an intake that stopped
// early are read and dropped.
intake::CopyOutcome take_text(Session &session, std::FILE *spool, DataText &text) {
  io::BlockReader unstuffed = data_text_reader(session.caller.input, text);
  intake::RewriteOptions options{false, true, session.transaction.from_value, kNobodyNamed};
  intake::RecipientList unused; // recipients come from RCPT alone
  intake::CopyOutcome outcome = intake::copy_message(unstuffed, spool, options, unused);
  for (std::string_view rest; !text.ended && !(rest = io::unconsumed(unstuffed)).empty();) {
    io::consume(unstuffed, rest.size());
  }
  return outcome;
}

void on_data(Session &session) {
  const Transaction &transaction = session.transaction;
  if (!transaction.open) return reply(session.caller, "503 5.5.1 Need MAIL before DATA");
  if (transaction.offered == 0) return reply(session.caller, "503 5.5.1 Need RCPT before DATA");
  if (transaction.accepted == 0) return reply(session.caller, "554 5.5.1 No valid recipients");
  intake::SpoolFile spool = intake::create_spool_file(session.settings.work_directory);
  if (spool.file == nullptr) {
    return reply(session.caller, "451 4.3.0 Cannot create temp file (" + spool.name + ")");
  }
  reply(session.caller, "354 End data with <CR><LF>.<CR><LF>");
  DataText text;
  Relayed message;
  long long size = -1;
  switch (take_text(session, spool.file, text)) {
  case intake::CopyOutcome::copied:
    size = intake::spool_size(spool.file);
    message = relay_message(session.relay, spool.file, spool.name);
    if (message.ended) session.server_transaction_open = false;
    break;
  case intake::CopyOutcome::write_failed:
    message.reply = "451 4.3.0 Cannot write temp file (" + spool.name + ")";
    break;
  case intake::CopyOutcome::header_line_too_long:
    message.reply = "552 5.3.4 Header line too long";
    break;
  case intake::CopyOutcome::read_failed:
    break; // the client is gone: the message never reaches the server's "."
  }
  intake::remove_spool_file(spool);
  // A client gone before its "." sent no message: nothing to tell or note.
  if (text.ended) {
    reply(session.caller, message.reply);
    note_outcome(session, message.reply, size);
  }
  end_transaction(session, positive(message));
}

void on_rset(Session &session) {
  if (session.transaction.open) end_transaction(session, false);
  Relayed reset = relay_rset(session.relay);
  follow_server(session, reset);
  reply(session.caller, reset.reply);
}

void on_greeting(Session &session, std::string_view argument, bool extended) {
  const std::string &host = session.settings.host_name;
  if (argument.empty()) {
    return reply(session.caller,
                 extended ? "501 5.5.4 Syntax: EHLO hostname" : "501 5.5.4 Syntax: HELO hostname");
  }
  // No PIPELINING: the session is lock-step, as is the dialogue behind it.
  reply(session.caller, extended ? "250-" + host + "\r\n250 8BITMIME" : "250 " + host);
}

// One command; false when the session ends with it.
bool on_command(Session &session, const Command &command) {
  switch (command.verb) {
  case Verb::helo:
  case Verb::ehlo:
    on_greeting(session, command.argument, command.verb == Verb::ehlo);
    break;
  case Verb::mail:
    on_mail(session, command.argument);
    break;
  case Verb::rcpt:
    on_rcpt(session, command.argument);
    break;
  case Verb::data:
    on_data(session);
    break;
  case Verb::rset:
    on_rset(session);
    break;
  case Verb::noop:
    reply(session.caller, "250 2.0.0 OK");
    break;
  case Verb::quit:
    reply(session.caller, "221 2.0.0 Bye");
    return false;
  case Verb::other:
    reply(session.caller, "502 5.5.1 Command not recognized");
    break;
  }
  return true;
}

} // namespace

bool serve_session(const SessionSettings &settings) {
  platform::use_binary_standard_input();
  platform::use_binary_standard_output();
  Session session{
      settings,
      {},
      {settings.server_host, settings.port, settings.submission, settings.unusable, {}, {}},
      {},
      false,
      true};
  if (!settings.refusal.empty()) {
    reply(session.caller, "421 4.3.0 " + settings.refusal);
    return false;
  }
  reply(session.caller, "220 " + settings.host_name + " quillrun ready");
  std::string line;
  while (!session.caller.gone) {
    const LineRead read = read_command_line(session.caller.input, line);
    if (read == LineRead::ended) break;
    if (read == LineRead::too_long) {
      reply(session.caller, "500 5.5.2 Line too long");
    } else if (line.find('\0') != std::string::npos) {
      reply(session.caller, "500 5.5.2 Command holds a NUL byte");
    } else if (!on_command(session, parse_command(line))) {
      break;
    }
  }
  if (session.transaction.open) end_transaction(session, false);
  end_relay(session.relay);
  return session.all_taken;
}

} // namespace smtp_server
