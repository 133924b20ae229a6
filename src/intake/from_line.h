// The From line added to a message that has none: the sender's envelope
// form, with the sender's full name ("-F") before it as the display name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace intake {

/// The most characters (UTF-8 sequences counted as one) of a full name that
/// the From line uses; the rest is left out.
inline constexpr std::size_t kMaxFullName = 100;

/// The value of an added From line: `envelope_form` alone when `full_name`
/// is empty; else the first kMaxFullName characters of `full_name` as a
/// display name (RFC 5322 3.4), a blank and `envelope_form`. The name stands
/// as it is when it is atext and blanks, else as a quoted string. `full_name`
/// holds no control byte.
std::string named_from_value(std::string_view full_name, std::string_view envelope_form);

} // namespace intake
