// The header rewriting of the intake, over the message as it streams in:
// From and To lines added when the header lacks them, Bcc lines left out,
// recipients taken from the header in header-extraction mode, the empty-body
// marker. Header lines are held whole; the body passes through in pieces of
// any size, never held as lines.
#pragma once

#include "intake/recipients.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace intake {

inline constexpr const char *kNoBodyMarker = "[message did not contain a body]\n";
inline constexpr const char *kAddressTooLong = "Address too long\n";

/// The longest input header line held whole, carriage returns not counted.
inline constexpr std::size_t kMaxHeldHeaderLine = 1024 * 1024;

struct RewriteOptions {
  bool extract_recipients = false; ///< header-extraction mode ("-t")
  bool ignore_dot = false;         ///< a line "." is text, not the end ("-i")
  std::string from_value;          ///< for a synthesized From line
  std::string to_value;            ///< for a synthesized To line
};

struct RewriteState {
  bool in_header = true;
  bool from_seen = false;
  bool to_seen = false;
  bool address_continuation = false; ///< the last header line gave recipients
  bool bcc_continuation = false;     ///< the last header line was left out
  bool body_seen = false;
  std::string header_line;   ///< the header line read so far, without carriage returns
  bool at_line_start = true; ///< body: the next byte begins a line
  bool dot_pending = false;  ///< body: the line so far is a lone "."
};

/// What one step produced, for the caller to pass on.
struct RewriteOutput {
  std::string spool;    ///< bytes for the spool file: lines ended by LF, no CR
  std::string messages; ///< for standard output
  std::string debug;    ///< for the debug log, in debug mode only
};

enum class Verdict {
  more,                 ///< the message goes on
  end_of_message,       ///< the "." line came (ignore-dot mode off)
  header_line_too_long, ///< a header line passed kMaxHeldHeaderLine: refuse the run
};

struct Taken {
  std::size_t consumed; ///< bytes used: all of them, or up to the end of the "." line
  Verdict verdict;
};

/// Takes the next bytes of standard input, cut anywhere, and appends what
/// they give to `out`, adding header recipients to `list`. Every carriage
/// return is removed.
Taken take_input(std::string_view input, const RewriteOptions &options, RewriteState &state,
                 RecipientList &list, RewriteOutput &out);

/// Ends the message, at the end of input or after the "." line: a last line
/// without LF taken as a line, a header still open closed, an empty body
/// marked.
void finish_message(const RewriteOptions &options, RewriteState &state, RecipientList &list,
                    RewriteOutput &out);

} // namespace intake
