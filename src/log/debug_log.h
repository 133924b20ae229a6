// The debug log "quillrun.debug" and debug mode ("-debug"), the one switch
// that decides whether anything is written to it.
#pragma once

#include <string_view>

namespace logs {

inline constexpr const char *kDebugLogName = "quillrun.debug";

/// Turns debug mode on or off for the rest of the run (off at start).
void set_debug_mode(bool on);

/// Whether the run is in debug mode.
bool debug_mode();

/// In debug mode, appends `text` to the debug log in the log folder (each
/// line ending as platform::log_lines makes it), opening and closing it for this one entry; a log
/// that cannot be opened drops the entry silently. Outside debug mode, nothing.
void debug_log(std::string_view text);

} // namespace logs
