// The message text a client sends after DATA (RFC 5321 4.5.2): it ends at the
// line holding only ".", and every other line beginning with a dot had one
// more put in front by the client, which is taken off again.
#pragma once

#include "io/block_reader.h"

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

/// A reader of the text out of `input`: its bytes without the added dots, up
/// to the "." line, where it ends (`state.ended`); the bytes after that line
/// stay in `input`. An input that ends before the "." line is a read error
/// (EPIPE, or the input's own). `input` and `state` must outlive the reader.
io::BlockReader data_text_reader(io::BlockReader &input, DataText &state);

} // namespace smtp_server
