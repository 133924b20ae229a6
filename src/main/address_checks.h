// Addresses refused before any of the message is read: none may smuggle a
// line break into a header or an SMTP command, and none may be longer than
// the envelope form allows. The full name of the From line is refused the
// same way.
#pragma once

#include "intake/recipients.h"
#include "main/command_line.h"

#include <optional>
#include <string_view>

namespace invocation {

inline constexpr const char *kLineBreak = "Address contains a line break\n";
inline constexpr const char *kTooLong = "Address too long\n";
inline constexpr const char *kFullNameLineBreak = "Full name contains a line break\n";

/// The message refusing the completed sender, the envelope sender override,
/// a recipient argument or the full name (any control byte); nothing when
/// every one is sound.
std::optional<std::string_view> refusal_of_addresses(const RunSettings &settings,
                                                     const intake::RecipientList &recipients);

} // namespace invocation
