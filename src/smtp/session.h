// One connection's command and reply exchange, within time limits.
#pragma once

#include "platform/net.h"
#include "smtp/reply.h"
#include "smtp/time_limits.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace smtp {

struct Session {
  platform::Socket socket = platform::kInvalidSocket;
  bool debug = false;
  std::chrono::milliseconds send_limit = TimeLimits{}.send; ///< for each send
  std::string pending; ///< bytes received after the last whole reply, kept for the next
};

/// Sends all of `data` unless the connection fails or the server takes none
/// of it for the send limit; false then.
bool send_all(Session &session, std::string_view data);

/// Sends `command` (which ends with CR LF); logs it in debug mode. A failed
/// send shows as a missing or odd reply after it.
void smtp_send_command(Session &session, std::string_view command);

/// When the server has sent bytes that answer nothing yet (left over after
/// the last reply, or waiting on the socket now: looked at without waiting),
/// sends QUIT and returns the first line of those bytes; nothing otherwise.
/// Taking them for the reply to the next command would put every later reply
/// one command behind, a refusal of the message among them.
std::optional<std::string> quit_on_unasked_reply(Session &session);

/// What became of a command.
struct Answer {
  std::optional<Reply> reply;         ///< its reply; nothing when none came in time
  std::optional<std::string> unasked; ///< the first line of a reply nobody asked for, instead
};

/// Sends `command` and reads its reply within `limit`, unless the server has
/// already sent a reply nobody asked for: then QUIT goes instead, and the
/// command is never sent (quit_on_unasked_reply).
Answer ask(Session &session, std::string_view command, std::chrono::milliseconds limit);

/// The next whole reply, waiting at most `limit` for it. Logs what is
/// received in debug mode, up to what the reply keeps. When the server closes
/// after part of a reply, that part is the reply. Nothing when no byte came,
/// the connection failed, or the time ran out.
std::optional<Reply> smtp_read_reply(Session &session, std::chrono::milliseconds limit);

} // namespace smtp
