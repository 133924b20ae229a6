#include "smtp/body.h"

namespace smtp {

void append_wire_form(std::string_view spool_bytes, WireState &state, std::string &wire) {
  std::size_t at = 0;
  while (at < spool_bytes.size()) {
    if (spool_bytes[at] == '\n') {
      wire += "\r\n";
      state.column = 0;
      ++at;
      continue;
    }
    // A 999th character begins a new piece.
    if (state.column == kMaxTextLine) {
      wire += "\r\n";
      state.column = 0;
    }
    if (state.column == 0 && spool_bytes[at] == '.') wire += '.';
    std::size_t end = spool_bytes.find('\n', at);
    if (end == std::string_view::npos) end = spool_bytes.size();
    std::size_t run =
        end - at < kMaxTextLine - state.column ? end - at : kMaxTextLine - state.column;
    wire.append(spool_bytes, at, run);
    state.column += run;
    at += run;
  }
}

} // namespace smtp
