// What a server offers in its reply to EHLO (RFC 5321 4.1.1.1): after the
// greeting line, one extension a line, its keyword and then its parameters.
#pragma once

#include "smtp/reply.h"

#include <string>
#include <vector>

namespace smtp {

struct Capabilities {
  bool starttls = false;               ///< STARTTLS (RFC 3207)
  bool eight_bit_mime = false;         ///< 8BITMIME (RFC 6152)
  std::vector<std::string> auth;       ///< the SASL mechanisms of AUTH (RFC 4954), upper-cased
  std::string auth_offered;            ///< the AUTH line's parameters as offered, for messages
  std::vector<std::string> extensions; ///< every extension line as offered, in order
};

/// The extensions of an EHLO reply. Keywords are matched in any letter case;
/// "AUTH=" lines, which some servers send beside or instead of "AUTH", name
/// mechanisms too.
Capabilities parse_capabilities(const Reply &ehlo_reply);

} // namespace smtp
