// The message text after DATA: spool lines as SMTP text lines (RFC 5321
// 4.5.2 transparency, 4.5.3.1.6 line length).
#pragma once

#include "smtp/session.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace smtp {

/// 998 characters before CR LF, RFC 5321 4.5.3.1.6.
inline constexpr std::size_t kMaxTextLine = 998;

/// What one spool line (without its LF) goes out as, each element one send:
/// pieces of 998 characters, the last one shorter (an empty line is one empty
/// piece), each with a dot added in front when it begins with one, and CR LF.
std::vector<std::string> wire_lines(std::string_view line);

enum class BodyOutcome { sent, send_failed, read_failed };

/// Sends every line of `spool`, one send per piece; stops at the first piece
/// not sent whole or at a read error.
BodyOutcome send_message_body(Session &session, std::FILE *spool);

} // namespace smtp
