// Folding of header lines to the line length limit of RFC 5322 2.1.1.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace intake {

/// 998 characters before CR LF, RFC 5322 2.1.1.
inline constexpr std::size_t kMaxHeaderLine = 998;

/// Appends `line` to `out` as one or more lines of at most 998 characters,
/// each ended by LF. A longer line is broken before the last blank or tab at
/// or before character 998, the continuation starting with it; failing that,
/// after the last "," there, and failing that at 998; a continuation that
/// does not start with a blank gets one.
void append_folded(std::string_view line, std::string &out);

} // namespace intake
