#include "smtp/client.h"

#include "log/debug_log.h"
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
void send_command(Client &client, std::string_view command) {
  send_all(client, command);
  logs::debug_log("--> " + std::string(command));
}

// The first line of bytes the server sent before anything asked for them
// (left over after the last reply, or waiting now: looked at without
// waiting), after which QUIT has gone; nothing when there are none.
std::optional<std::string> quit_on_unasked_reply(Client &client) {
  std::string unasked = std::move(client.pending);
  client.pending.clear();
  if (unasked.empty()) {
    char chunk[kReceiveSize];
    platform::Transfer got = client.stream->receive_some(chunk, sizeof chunk, 0);
    // A closed or failed connection is left to the next command to find.
    if (got.timed_out || got.count <= 0) return std::nullopt;
    unasked.assign(chunk, static_cast<std::size_t>(got.count));
    logs::debug_log(unasked);
  }
  send_command(client, "QUIT\r\n");
  Reply stray;
  stray.text = std::move(unasked);
  return first_line(stray);
}

Outcome replied(std::optional<Reply> reply) {
  if (!reply) return {Fault::no_reply, {}, {}, 0};
  return {Fault::none, std::move(*reply), {}, 0};
}

Outcome unasked(std::string line) { return {Fault::unasked_reply, {}, std::move(line), 0}; }

} // namespace

Outcome open_session(Client &client, const std::string &host, int port) {
  logs::debug_log("Open socket to (" + host + ":" + std::to_string(port) + ")\n");
  std::string name = host;
  platform::Socket socket = open_smtp_connection(name, port);
  if (socket == platform::kInvalidSocket) {
    return {Fault::no_connection, {}, {}, platform::last_socket_error()};
  }
  logs::debug_log("Socket opened \n");
  client.stream = platform::socket_stream(socket);
  client.pending.clear();
  logs::debug_log("Waiting for welcome\n");
  Outcome greeting = replied(read_reply(client, client.limits.reply));
  if (greeting.fault != Fault::none) client.stream.reset();
  return greeting;
}

Outcome hello(Client &client, const std::string &argument) {
  return command(client, "HELO " + argument + "\r\n", client.limits.reply);
}

Outcome command(Client &client, std::string_view command, std::chrono::milliseconds limit) {
  if (auto line = quit_on_unasked_reply(client)) return unasked(std::move(*line));
  send_command(client, command);
  return replied(read_reply(client, limit));
}

Outcome send_text(Client &client, io::BlockReader &spool) {
  if (auto line = quit_on_unasked_reply(client)) return unasked(std::move(*line));
  logs::debug_log("Sending data\n");
  switch (send_message_body(client, spool)) {
  case BodyOutcome::send_failed:
    return {Fault::send_failed, {}, {}, 0};
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
