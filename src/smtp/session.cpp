#include "smtp/session.h"

#include "log/debug_log.h"

#include <optional>

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
void take(Session &session, Reply &reply, std::string_view bytes) {
  std::size_t used = take_reply_bytes(reply, bytes);
  session.pending.assign(bytes.substr(used));
}

} // namespace

bool send_all(Session &session, std::string_view data) {
  const Clock::time_point deadline = Clock::now() + session.send_limit;
  while (!data.empty()) {
    std::optional<int> left = milliseconds_left(deadline);
    if (!left) return false;
    platform::Transfer sent = platform::send_some(session.socket, data, *left);
    if (sent.timed_out || sent.count < 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent.count));
  }
  return true;
}

void smtp_send_command(Session &session, std::string_view command) {
  send_all(session, command);
  if (session.debug) logs::debug_log("--> " + std::string(command));
}

std::optional<std::string> quit_on_unasked_reply(Session &session) {
  std::string unasked = std::move(session.pending);
  session.pending.clear();
  if (unasked.empty()) {
    char chunk[kReceiveSize];
    platform::Transfer got = platform::receive_some(session.socket, chunk, sizeof chunk, 0);
    // A closed or failed connection is left to the next command to find.
    if (got.timed_out || got.count <= 0) return std::nullopt;
    unasked.assign(chunk, static_cast<std::size_t>(got.count));
    if (session.debug) logs::debug_log(unasked);
  }
  smtp_send_command(session, "QUIT\r\n");
  Reply stray;
  stray.text = std::move(unasked);
  return first_line(stray);
}

Answer ask(Session &session, std::string_view command, std::chrono::milliseconds limit) {
  if (auto unasked = quit_on_unasked_reply(session)) return {std::nullopt, unasked};
  smtp_send_command(session, command);
  return {smtp_read_reply(session, limit), std::nullopt};
}

std::optional<Reply> smtp_read_reply(Session &session, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  Reply reply;
  const std::string earlier = std::move(session.pending);
  take(session, reply, earlier);
  char chunk[kReceiveSize];
  while (!reply.complete) {
    std::optional<int> left = milliseconds_left(deadline);
    if (!left) return std::nullopt;
    platform::Transfer got = platform::receive_some(session.socket, chunk, sizeof chunk, *left);
    if (got.timed_out || got.count < 0) return std::nullopt;
    if (got.count == 0) {
      if (reply.text.empty()) return std::nullopt;
      end_reply(reply);
      break;
    }
    std::string_view bytes(chunk, static_cast<std::size_t>(got.count));
    // An endless reply must not fill the disk either.
    if (session.debug && reply.dropped == 0) logs::debug_log(bytes);
    take(session, reply, bytes);
  }
  if (session.debug && reply.dropped > 0) {
    logs::debug_log("[" + std::to_string(reply.dropped) + " more bytes of the reply dropped]\n");
  }
  return reply;
}

} // namespace smtp
