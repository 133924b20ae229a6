// The header rewriting of the intake, one input line at a time: From and To
// lines added when the header lacks them, Bcc lines left out, recipients taken
// from the header in header-extraction mode, the empty-body marker.
#pragma once

#include "intake/recipients.h"

#include <string>

namespace intake {

inline constexpr const char *kNoBodyMarker = "[message did not contain a body]\n";
inline constexpr const char *kAddressTooLong = "Address too long\n";

struct RewriteOptions {
  bool extract_recipients = false; ///< header-extraction mode ("-t")
  bool ignore_dot = false;         ///< a line "." is text, not the end ("-i")
  bool debug = false;
  std::string from_value; ///< for a synthesized From line
  std::string to_value;   ///< for a synthesized To line
};

struct RewriteState {
  bool in_header = true;
  bool from_seen = false;
  bool to_seen = false;
  bool address_continuation = false; ///< the last header line gave recipients
  bool bcc_continuation = false;     ///< the last header line was left out
  bool body_seen = false;
};

/// What one step produced, for the caller to pass on.
struct RewriteOutput {
  std::string spool;    ///< lines for the spool file, each ended by LF
  std::string messages; ///< for standard output
  std::string debug;    ///< for the debug log
};

enum class LineVerdict { more, end_of_message };

/// Takes one input line (without its LF; carriage returns are removed here)
/// and appends what it gives to `out`, adding header recipients to `list`.
LineVerdict rewrite_line(std::string &line, const RewriteOptions &options, RewriteState &state,
                         RecipientList &list, RewriteOutput &out);

/// Ends the message: closes a header still open and marks an empty body.
void finish_message(const RewriteOptions &options, const RewriteState &state, RewriteOutput &out);

} // namespace intake
