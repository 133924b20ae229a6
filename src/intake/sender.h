// The sender identity and the values taken from it: the From value, the
// envelope sender and the HELO argument.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace intake {

/// `username` (the USERNAME variable; "windows" when unset), first 100
/// characters.
std::string default_sender(const char *username);

/// `sender` itself when it holds an "@"; otherwise "@" and a domain appended:
/// the host name when it holds a dot, else the configured domain when there
/// is one, else the bare host name. The host name is asked for again when it
/// is appended.
std::string completed_sender(std::string sender, const std::function<std::string()> &host_name,
                             const std::function<std::string()> &configured_domain);

/// The value of a synthesized From line: the sender in envelope form.
std::string from_value(const std::string &sender);

/// The argument of MAIL FROM: the override when present, even empty, else the
/// sender, in envelope form.
std::string envelope_sender(const std::string &sender, const std::optional<std::string> &override_);

/// The argument of HELO: the sender's text after its first "@", up to the
/// first ">" after it.
std::string helo_argument(const std::string &sender);

} // namespace intake
