// The commands a client gives the SMTP session of "-bs" (RFC 5321 4.1.1): a
// verb in any letter case, a blank, and its argument.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace smtp_server {

enum class Verb { helo, ehlo, mail, rcpt, data, rset, noop, quit, other };

struct Command {
  Verb verb = Verb::other;
  std::string_view argument; ///< what follows the first blank, blanks before it skipped
};

/// The command of `line`, given without its line end.
Command parse_command(std::string_view line);

/// The path of a MAIL or RCPT argument, angle brackets included: `keyword`
/// ("FROM:" or "TO:") in any letter case, optional blanks, "<", the address,
/// ">", then nothing or a blank and parameters (which are not kept). Nothing
/// when malformed: no brackets, a blank, a control byte or another bracket
/// inside, or a path longer than an envelope address may be; "<>" only when
/// `empty_allowed`.
std::optional<std::string> parse_path(std::string_view argument, std::string_view keyword,
                                      bool empty_allowed);

/// Whether a MAIL argument's parameters, after its path, declare the text
/// 8-bit (RFC 6152: BODY=8BITMIME, in any letter case).
bool declares_8bitmime(std::string_view argument);

} // namespace smtp_server
