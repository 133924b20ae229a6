#pragma once

#include <string_view>

namespace smtp {

/// The leading decimal number of `text` as the C library's atoi reads it:
/// white space skipped, an optional sign, the digits up to the first other
/// character; 0 without digits. Saturates at the limits of int.
int leading_number(std::string_view text);

} // namespace smtp
