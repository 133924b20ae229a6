// The message text a client sends after DATA (RFC 5321 4.5.2): it ends at the
// line holding only ".", and every other line beginning with a dot had one
// more put in front by the client, which is taken off again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace smtp_server {

struct DataText {
  bool at_line_start = true;
  bool dot = false;    ///< the line so far is a lone "."
  bool dot_cr = false; ///< ... followed by a CR
  bool ended = false;  ///< the "." line has come
};

/// Takes bytes of the text, cut anywhere, appending them without the added
/// dots to `out`; CR LF and LF both end a line. Returns how many belong to
/// the text: all, or up to the end of the "." line.
std::size_t take_data_text(std::string_view bytes, DataText &state, std::string &out);

} // namespace smtp_server
