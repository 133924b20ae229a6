// The debug log "quillrun.debug", written only in debug mode. Callers test the
// mode before calling.
#pragma once

#include <string_view>

namespace logs {

inline constexpr const char *kDebugLogName = "quillrun.debug";

/// Appends `text` unchanged to the debug log in the current directory,
/// opening and closing it for this one entry; a log that cannot be opened
/// drops the entry silently.
void debug_log(std::string_view text);

} // namespace logs
