// The message text after DATA: spool bytes in their wire form (RFC 5321
// 4.5.2 transparency, 4.5.3.1.6 line length), made block by block.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace smtp {

/// 998 characters before CR LF, RFC 5321 4.5.3.1.6.
inline constexpr std::size_t kMaxTextLine = 998;

struct WireState {
  std::size_t column = 0; ///< characters of the current line already sent
};

/// Appends the wire form of spool bytes, cut anywhere, to `wire`: each LF
/// becomes CR LF, a line longer than 998 characters goes out in pieces of
/// 998 (a line of exactly 998 stays whole), and a dot is added in front of
/// every piece that begins with one.
void append_wire_form(std::string_view spool_bytes, WireState &state, std::string &wire);

} // namespace smtp
