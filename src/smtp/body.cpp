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

BodyOutcome send_message_body(Client &client, io::BlockReader &spool) {
  WireState state;
  std::string wire;
  for (std::string_view bytes = io::unconsumed(spool); !bytes.empty();
       bytes = io::unconsumed(spool)) {
    wire.clear();
    append_wire_form(bytes, state, wire);
    io::consume(spool, bytes.size());
    if (!send_all(client, wire)) return BodyOutcome::send_failed;
  }
  if (spool.error != 0) return BodyOutcome::read_failed;
  // The intake ends every line; a spool file that did not still ends one here.
  if (state.column > 0 && !send_all(client, "\r\n")) return BodyOutcome::send_failed;
  return BodyOutcome::sent;
}

} // namespace smtp
