#include "smtp_server/data_text.h"

namespace smtp_server {

std::size_t take_data_text(std::string_view bytes, DataText &state, std::string &out) {
  std::size_t at = 0;
  while (at < bytes.size() && !state.ended) {
    const char c = bytes[at++];
    if (state.dot) {
      if (c == '\n') {
        state.ended = true;
        break;
      }
      if (c == '\r' && !state.dot_cr) {
        state.dot_cr = true;
        continue;
      }
      // Not the end: the dot was the client's, and what follows is text.
      state.dot = false;
      if (state.dot_cr) out += '\r';
      state.dot_cr = false;
    } else if (state.at_line_start && c == '.') {
      state.dot = true;
      continue;
    }
    out += c;
    state.at_line_start = c == '\n';
  }
  return at;
}

} // namespace smtp_server
