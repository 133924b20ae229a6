#include "smtp_server/data_text.h"

#include <cerrno>
#include <cstring>

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

io::BlockReader data_text_reader(io::BlockReader &input, DataText &state) {
  return {[&input, &state](char *buffer, std::size_t capacity) -> long {
    std::string out;
    while (out.empty() && !state.ended) {
      std::string_view bytes = io::unconsumed(input);
      if (bytes.empty()) {
        errno = input.error != 0 ? input.error : EPIPE; // cut short
        return -1;
      }
      // A CR held back after a lone dot comes out with the next byte: one
      // byte of room is kept for it.
      io::consume(input, take_data_text(bytes.substr(0, capacity - 1), state, out));
    }
    std::memcpy(buffer, out.data(), out.size());
    return static_cast<long>(out.size());
  }};
}

} // namespace smtp_server
