// How the piped run judges the server's reply to each step, and the words
// it prints when a step ends the run: in one place for the delivery and for
// "-bv", which must say of every step what a delivery would.
#pragma once

#include "smtp/client.h"
#include "smtp/reply.h"

#include <optional>
#include <string>
#include <string_view>

namespace smtp {

/// Whether a reply to HELO, MAIL FROM, DATA or "." lets the run go on.
bool passes(const Reply &reply);

/// Whether a reply to RCPT TO accepts the recipient.
bool accepts_recipient(const Reply &reply);

/// "ROLE accepted ADDRESS (LINE)" or "ROLE refused ADDRESS (LINE)", LINE
/// being the reply's first line, with a line feed.
std::string verdict(std::string_view role, bool accepted, std::string_view address,
                    const Reply &reply);

/// Prints "-ERR Invalid smtp response (LINE)" for a reply that refuses a
/// step the run cannot go on without.
void report_refusal(const Reply &reply);

/// The step whose reply is judged, where the piped run's words depend on it.
enum class Step { greeting, helo, mail, other };

/// Whether a reply may still end the run: by refusing, or never.
enum class Check { refusal, none };

/// The reply, when the run goes on after this step. Nothing, after the
/// step's message, when it ends here: a fault, or with Check::refusal a
/// reply that does not pass.
std::optional<Reply> judged(const Client &client, Outcome outcome, Step step, Check check);

} // namespace smtp
