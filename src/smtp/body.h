// The message text after DATA: spool bytes in their wire form (RFC 5321
// 4.5.2 transparency, 4.5.3.1.6 line length), streamed in blocks.
#pragma once

#include "io/block_reader.h"
#include "smtp/client.h"

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

enum class BodyOutcome { sent, send_failed, read_failed };

/// Sends the whole spool file in its wire form, block by block, each block
/// within the client's send limit; stops at the first block not sent whole
/// or at a read error (`spool.error` then tells which).
BodyOutcome send_message_body(Client &client, io::BlockReader &spool);

} // namespace smtp
