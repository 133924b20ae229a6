// The words of every fault of the dialogue, once: the piped run prints them
// after "-ERR ", the "-bs" relay after an RFC 3463 code of its own.
#pragma once

#include "smtp/client.h"
#include "smtp/reply.h"

#include <string>
#include <string_view>

namespace smtp {

/// Which reply was missing, where the words have long named it.
enum class Awaited { welcome, helo, response };

/// The bare words of `outcome`'s fault: no "-ERR", no code, no line end.
/// They name `client`'s server and port where they speak of it; `awaited`
/// tells which reply a no_reply lacked. Empty for Fault::none.
std::string fault_text(const Client &client, const Outcome &outcome,
                       Awaited awaited = Awaited::response);

/// "Invalid smtp response (LINE)", LINE being a reply's first line: a reply
/// that refuses a step the run cannot go on without, or that no server
/// should send.
std::string invalid_response(std::string_view line);

} // namespace smtp
