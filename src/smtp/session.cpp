#include "smtp/session.h"

#include "log/debug_log.h"

namespace smtp {
namespace {

constexpr std::size_t kReceiveSize = 1000;

std::string take_front(std::string &text, std::size_t length) {
  std::string front = text.substr(0, length);
  text.erase(0, length);
  return front;
}

} // namespace

void smtp_send_command(Session &session, std::string_view command) {
  platform::send_bytes(session.socket, command);
  if (session.debug) logs::debug_log("--> " + std::string(command));
}

std::optional<Reply> smtp_read_reply(Session &session, std::chrono::seconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  char chunk[kReceiveSize];
  for (;;) {
    if (auto length = complete_reply_length(session.received)) {
      return make_reply(take_front(session.received, *length));
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    platform::Received got = platform::receive_bytes(session.socket, chunk, sizeof chunk,
                                                     static_cast<int>(left.count()));
    if (got.timed_out) return std::nullopt;
    if (got.count < 1) {
      if (session.received.empty()) return std::nullopt;
      return make_reply(take_front(session.received, session.received.size()));
    }
    std::string_view text(chunk, static_cast<std::size_t>(got.count));
    if (session.debug) logs::debug_log(text);
    session.received.append(text);
  }
}

} // namespace smtp
