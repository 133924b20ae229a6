// SMTP replies: whole replies assembled from what the server sends, however
// it is cut into receives (RFC 5321 4.2.1), each byte looked at once, in
// bounded space.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace smtp {

/// The most of one reply kept; the rest is counted and dropped.
inline constexpr std::size_t kMaxReplyKept = 64 * 1024;

struct Reply {
  std::string text;            ///< the reply's first kMaxReplyKept bytes, line ends included
  std::size_t dropped = 0;     ///< bytes of the reply beyond them
  std::size_t line_length = 0; ///< bytes of the line being received so far
  char line_head[4] = {};      ///< its first four bytes, which tell whether the reply goes on
  bool complete = false;
  int code = 0; ///< its leading number, as atoi reads it; set once complete
};

/// Takes bytes received for `reply`: a line whose three-digit code is
/// followed by "-" continues it, any other line ends it. Returns how many
/// bytes belong to it: all, or up to the LF of its last line.
std::size_t take_reply_bytes(Reply &reply, std::string_view bytes);

/// Ends a reply cut short by the server closing the connection: what came is
/// the reply.
void end_reply(Reply &reply);

/// The reply's first line, without its line end (and cut at a NUL byte).
std::string first_line(const Reply &reply);

} // namespace smtp
