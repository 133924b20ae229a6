#include "smtp/body.h"

#include "intake/line_reader.h"

namespace smtp {

std::vector<std::string> wire_lines(std::string_view line) {
  std::vector<std::string> lines;
  do {
    std::string_view piece = line.substr(0, kMaxTextLine);
    line.remove_prefix(piece.size());
    std::string wire;
    wire.reserve(piece.size() + 3);
    if (!piece.empty() && piece.front() == '.') wire += '.';
    wire += piece;
    wire += "\r\n";
    lines.push_back(std::move(wire));
  } while (!line.empty());
  return lines;
}

BodyOutcome send_message_body(Session &session, std::FILE *spool) {
  intake::LineReader reader{spool};
  std::string line;
  while (intake::read_line(reader, line)) {
    for (const std::string &wire : wire_lines(line)) {
      if (platform::send_bytes(session.socket, wire) != static_cast<long>(wire.size())) {
        return BodyOutcome::send_failed;
      }
    }
  }
  return reader.failed ? BodyOutcome::read_failed : BodyOutcome::sent;
}

} // namespace smtp
