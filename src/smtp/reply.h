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

/// What a reply says, by the first digit of its code (RFC 5321 4.2.1).
enum class ReplyClass {
  malformed,             ///< no reply code: not three digits, the first 2 to 5
  positive_completion,   ///< 2yz: done
  positive_intermediate, ///< 3yz: go on (354 to DATA)
  transient_negative,    ///< 4yz: not now
  permanent_negative,    ///< 5yz: never
};

/// The class of `reply`, read from its first line: three digits, the first
/// of them 2 to 5, then a blank, a "-" or the end of the line.
ReplyClass reply_class(const Reply &reply);

} // namespace smtp
