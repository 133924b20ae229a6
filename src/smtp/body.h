// The message text after DATA: spool lines as SMTP text lines (RFC 5321
// 4.5.2 transparency, 4.5.3.1.6 line length).
#pragma once

#include "smtp/session.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace smtp {

/// 998 characters before CR LF, RFC 5321 4.5.3.1.6.
inline constexpr std::size_t kMaxTextLine = 998;

/// Takes the next piece off the front of a spool line (without its LF) and
/// puts its wire form in `wire`: at most 998 characters, a dot added in front
/// when it begins with one, and CR LF. An empty line is one empty piece.
void take_wire_piece(std::string_view &line, std::string &wire);

enum class BodyOutcome { sent, send_failed, read_failed };

/// Sends every line of `spool`, one send per piece; stops at the first piece
/// not sent whole or at a read error.
BodyOutcome send_message_body(Session &session, std::FILE *spool);

} // namespace smtp
