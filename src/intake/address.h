// The two address scanners: simple token scanners, not address grammars. They
// pick out the tokens that look like addresses (those with an "@") and put
// them in angle brackets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace intake {

/// The longest envelope form an address may have, its brackets included: the
/// 500-byte buffer it always had, kept so that no address that passed before
/// is refused now, and none longer reaches a server.
inline constexpr std::size_t kMaxEnvelopeForm = 499;

/// The envelope form of any address text: the first blank-separated token
/// holding an "@", bracketed unless it begins with "<"; with no such token,
/// the whole text, untrimmed, bracketed the same way.
std::string envelope_address(std::string_view text);

/// The candidates that an address header's text yields, left to right, each
/// in angle brackets: its tokens (split at blank, "," CR and LF; comment and
/// quoted-phrase pieces skipped), only those with an "@" when the text holds
/// one anywhere.
std::vector<std::string> header_addresses(std::string_view text);

} // namespace intake
