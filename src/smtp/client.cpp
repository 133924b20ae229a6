#include "smtp/client.h"

#include "log/debug_log.h"
#include "platform/tls.h"
#include "smtp/auth.h"
#include "smtp/body.h"
#include "smtp/connection.h"

namespace smtp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReceiveSize = 4096;

// What is left of the time until `deadline`, as poll and select take it;
// nothing once it has passed, however much the server still sends.
std::optional<int> milliseconds_left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return std::nullopt;
  return static_cast<int>(left.count());
}

// Takes received bytes into `reply`; what is beyond its end waits for the next.
void take(Client &client, Reply &reply, std::string_view bytes) {
  std::size_t used = take_reply_bytes(reply, bytes);
  client.pending.assign(bytes.substr(used));
}

// A failed send shows as a missing or odd reply after it.
void send_command(Client &client, std::string_view command, std::string_view shown = {}) {
  send_all(client, command);
  logs::debug_log("--> " + std::string(shown.empty() ? command : shown));
}

// Bytes the server sent before anything asked for them: left over after the
// last reply, or waiting now (looked at without waiting). A closed or failed
// connection is left to the next command to find.
std::string unasked_bytes(Client &client) {
  std::string unasked = std::move(client.pending);
  client.pending.clear();
  if (unasked.empty()) {
    char chunk[kReceiveSize];
    platform::Transfer got = client.stream->receive_some(chunk, sizeof chunk, 0);
    if (got.timed_out || got.count <= 0) return {};
    unasked.assign(chunk, static_cast<std::size_t>(got.count));
    logs::debug_log(unasked);
  }
  return unasked;
}

// The first line of unasked bytes, after which QUIT has gone; nothing when
// there are none.
std::optional<std::string> quit_on_unasked_reply(Client &client) {
  Reply stray;
  stray.text = unasked_bytes(client);
  if (stray.text.empty()) return std::nullopt;
  send_command(client, "QUIT\r\n");
  return first_line(stray);
}

Outcome replied(std::optional<Reply> reply) {
  if (!reply) return {Fault::no_reply, {}, {}, 0};
  return {Fault::none, std::move(*reply), {}, 0};
}

Outcome failed(Fault fault, std::string detail = {}) { return {fault, {}, std::move(detail), 0}; }

int milliseconds_of(std::chrono::milliseconds limit) { return static_cast<int>(limit.count()); }

// TLS over the connection; the plain stream is gone either way.
Outcome start_tls(Client &client, const Submission &submission) {
  platform::TlsStart tls =
      platform::start_tls(std::move(client.stream), client.server, submission.tls_ca_file,
                          milliseconds_of(client.limits.reply));
  client.stream = std::move(tls.stream);
  if (!client.stream) return failed(Fault::tls_failed, tls.failure);
  return {};
}

// The server's refusal of a step the dialogue cannot go on without, after
// which it is left with QUIT.
Outcome quit_with(Client &client, Outcome outcome) {
  quit(client);
  return outcome;
}

Outcome extended_hello(Client &client, const std::string &argument) {
  Outcome ehlo = command(client, "EHLO " + argument + "\r\n", client.limits.reply);
  if (ehlo.fault != Fault::none) return ehlo;
  if (reply_class(ehlo.reply) != ReplyClass::positive_completion) {
    return quit_with(client, {Fault::refused, std::move(ehlo.reply), {}, 0});
  }
  client.offered = parse_capabilities(ehlo.reply);
  return ehlo;
}

// RFC 3207 4: STARTTLS, its 220, the handshake. Whatever the server sends
// after its 220 and before the handshake was injected by someone on the way
// (and would be read as if it came through TLS): the run ends there.
Outcome upgrade_to_tls(Client &client, const Submission &submission) {
  if (!client.offered.starttls) return quit_with(client, failed(Fault::no_starttls));
  Outcome starttls = command(client, "STARTTLS\r\n", client.limits.reply);
  if (starttls.fault != Fault::none) return starttls;
  if (reply_class(starttls.reply) != ReplyClass::positive_completion) {
    return quit_with(client, failed(Fault::tls_failed, "server refused STARTTLS (" +
                                                           first_line(starttls.reply) + ")"));
  }
  if (!unasked_bytes(client).empty()) {
    client.stream.reset();
    return failed(Fault::tls_failed, "bytes sent before the handshake");
  }
  return start_tls(client, submission);
}

} // namespace

Outcome open_session(Client &client, const std::string &host, int port,
                     const Submission &submission) {
  logs::debug_log("Open socket to (" + host + ":" + std::to_string(port) + ")\n");
  std::string name = host;
  std::uint32_t address = 0;
  platform::Socket socket = open_smtp_connection(name, port, &address);
  if (socket == platform::kInvalidSocket) {
    return {Fault::no_connection, {}, {}, platform::last_socket_error()};
  }
  logs::debug_log("Socket opened \n");
  client.stream = platform::socket_stream(socket);
  client.pending.clear();
  client.server = name;
  client.loopback = is_loopback(address);
  client.offered = {};
  if (submission.tls == TlsMode::implicit) {
    Outcome tls = start_tls(client, submission);
    if (tls.fault != Fault::none) return tls;
  }
  logs::debug_log("Waiting for welcome\n");
  Outcome greeting = replied(read_reply(client, client.limits.reply));
  if (greeting.fault != Fault::none) client.stream.reset();
  return greeting;
}

Outcome hello(Client &client, const std::string &argument, const Submission &submission) {
  if (!extended(submission)) {
    return command(client, "HELO " + argument + "\r\n", client.limits.reply);
  }
  // A password in clear text goes nowhere but to the machine itself.
  if (!submission.user.empty() && submission.tls == TlsMode::off && !client.loopback) {
    return quit_with(client, failed(Fault::login_without_tls));
  }
  Outcome greeted = extended_hello(client, argument);
  if (greeted.fault == Fault::none && submission.tls == TlsMode::starttls) {
    greeted = upgrade_to_tls(client, submission);
    if (greeted.fault == Fault::none) greeted = extended_hello(client, argument);
  }
  if (greeted.fault != Fault::none || submission.user.empty()) return greeted;
  std::optional<AuthMethod> mechanism = chosen_mechanism(submission.auth, client.offered);
  if (!mechanism) {
    return quit_with(client, failed(Fault::no_login_method, client.offered.auth_offered));
  }
  Outcome login = log_in(client, *mechanism, submission.user, submission.secret);
  if (login.fault == Fault::login_refused) return quit_with(client, std::move(login));
  return login;
}

std::string submission_failure(const Client &client, const Outcome &outcome) {
  const std::string &host = client.server;
  switch (outcome.fault) {
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
  default:
    return {};
  }
}

Outcome command(Client &client, std::string_view command, std::chrono::milliseconds limit,
                std::string_view shown) {
  if (auto line = quit_on_unasked_reply(client)) return failed(Fault::unasked_reply, *line);
  send_command(client, command, shown);
  return replied(read_reply(client, limit));
}

Outcome send_text(Client &client, io::BlockReader &spool) {
  if (auto line = quit_on_unasked_reply(client)) return failed(Fault::unasked_reply, *line);
  logs::debug_log("Sending data\n");
  switch (send_message_body(client, spool)) {
  case BodyOutcome::send_failed:
    return failed(Fault::send_failed);
  case BodyOutcome::read_failed:
    return {Fault::unreadable_text, {}, {}, spool.error};
  case BodyOutcome::sent:
    break;
  }
  logs::debug_log("Sending terminating dot\n");
  // The final dot is small and would wait behind unacknowledged message data
  // for the server's delayed ACK; send it at once.
  client.stream->send_without_delay();
  send_command(client, ".\r\n");
  return replied(read_reply(client, client.limits.final_dot_reply));
}

void quit(Client &client) {
  if (!client.stream) return;
  send_command(client, "QUIT\r\n");
  read_reply(client, client.limits.quit_reply);
  client.stream.reset();
}

bool send_all(Client &client, std::string_view data) {
  const Clock::time_point deadline = Clock::now() + client.limits.send;
  while (!data.empty()) {
    std::optional<int> left = milliseconds_left(deadline);
    if (!left) return false;
    platform::Transfer sent = client.stream->send_some(data, *left);
    if (sent.timed_out || sent.count < 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent.count));
  }
  return true;
}

std::optional<Reply> read_reply(Client &client, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  Reply reply;
  const std::string earlier = std::move(client.pending);
  take(client, reply, earlier);
  char chunk[kReceiveSize];
  while (!reply.complete) {
    std::optional<int> left = milliseconds_left(deadline);
    if (!left) return std::nullopt;
    platform::Transfer got = client.stream->receive_some(chunk, sizeof chunk, *left);
    if (got.timed_out || got.count < 0) return std::nullopt;
    if (got.count == 0) {
      if (reply.text.empty()) return std::nullopt;
      end_reply(reply);
      break;
    }
    std::string_view bytes(chunk, static_cast<std::size_t>(got.count));
    // An endless reply must not fill the disk either.
    if (reply.dropped == 0) logs::debug_log(bytes);
    take(client, reply, bytes);
  }
  if (reply.dropped > 0) {
    logs::debug_log("[" + std::to_string(reply.dropped) + " more bytes of the reply dropped]\n");
  }
  return reply;
}

} // namespace smtp
