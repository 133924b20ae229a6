#include "smtp/body.h"

#include "intake/line_reader.h"

namespace smtp {

void take_wire_piece(std::string_view &line, std::string &wire) {
  std::string_view piece = line.substr(0, kMaxTextLine);
  line.remove_prefix(piece.size());
  wire.clear();
  if (!piece.empty() && piece.front() == '.') wire += '.';
  wire += piece;
  wire += "\r\n";
}

BodyOutcome send_message_body(Session &session, std::FILE *spool) {
  intake::LineReader reader{spool};
  std::string line;
  std::string wire;
  while (intake::read_line(reader, line)) {
    std::string_view rest = line;
    do {
      take_wire_piece(rest, wire);
      if (platform::send_bytes(session.socket, wire) != static_cast<long>(wire.size())) {
        return BodyOutcome::send_failed;
      }
    } while (!rest.empty());
  }
  return reader.failed ? BodyOutcome::read_failed : BodyOutcome::sent;
}

} // namespace smtp
