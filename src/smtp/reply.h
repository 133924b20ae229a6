// SMTP replies: whole replies assembled from what the server sends, however
// it is cut into receives (RFC 5321 4.2.1).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace smtp {

struct Reply {
  std::string text; ///< every line of the reply, line ends included
  int code = 0;     ///< its leading number, as atoi reads it
};

/// The length of the first whole reply at the start of `received`: lines up
/// to their LF, where a line whose three-digit code is followed by "-"
/// continues the reply and any other line ends it. Nothing while the reply is
/// still incomplete.
std::optional<std::size_t> complete_reply_length(std::string_view received);

/// A reply made of `text`.
Reply make_reply(std::string text);

/// The reply's first line, without its line end (and cut at a NUL byte).
std::string first_line(const Reply &reply);

} // namespace smtp
