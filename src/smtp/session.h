// One connection's command and reply exchange.
#pragma once

#include "platform/net.h"
#include "smtp/reply.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace smtp {

/// How long to wait for a reply, RFC 5321 4.5.3.2.
inline constexpr std::chrono::seconds kCommandReplyLimit{5 * 60};
inline constexpr std::chrono::seconds kDataReplyLimit{2 * 60};
inline constexpr std::chrono::seconds kFinalDotReplyLimit{10 * 60};

struct Session {
  platform::Socket socket = platform::kInvalidSocket;
  bool debug = false;
  std::string received; ///< bytes after the last whole reply, kept for the next
};

/// Sends `command` (which ends with CR LF) in one send; logs it in debug mode.
/// A failed send shows as a missing or odd reply after it.
void smtp_send_command(Session &session, std::string_view command);

/// The next whole reply, waiting at most `limit` for it. Logs every chunk as
/// received in debug mode. When the server closes after part of a reply, that
/// part is the reply. Nothing when no byte came, the connection failed, or
/// the time ran out.
std::optional<Reply> smtp_read_reply(Session &session, std::chrono::seconds limit);

} // namespace smtp
