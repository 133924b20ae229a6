#include "smtp/reply.h"

#include "smtp/leading_number.h"
#include "text/ascii.h"

namespace smtp {
namespace {

bool continues_reply(const Reply &reply) {
  // The line's length includes its LF.
  return reply.line_length > 4 && ascii::is_digit(reply.line_head[0]) &&
         ascii::is_digit(reply.line_head[1]) && ascii::is_digit(reply.line_head[2]) &&
         reply.line_head[3] == '-';
}

void keep(Reply &reply, std::string_view piece) {
  std::size_t room = kMaxReplyKept - reply.text.size();
  std::size_t kept = piece.size() < room ? piece.size() : room;
  reply.text.append(piece, 0, kept);
  reply.dropped += piece.size() - kept;
}

} // namespace

std::size_t take_reply_bytes(Reply &reply, std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size() && !reply.complete) {
    std::size_t newline = bytes.find('\n', at);
    std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
    std::string_view piece = bytes.substr(at, end - at);
    for (std::size_t i = 0; reply.line_length + i < 4 && i < piece.size(); ++i) {
      reply.line_head[reply.line_length + i] = piece[i];
    }
    reply.line_length += piece.size();
    keep(reply, piece);
    if (newline != std::string_view::npos) {
      if (!continues_reply(reply)) end_reply(reply);
      reply.line_length = 0;
    }
    at = end;
  }
  return at;
}

void end_reply(Reply &reply) {
  reply.complete = true;
  reply.code = leading_number(reply.text);
}

std::string first_line(const Reply &reply) {
  std::string_view text = reply.text;
  text = text.substr(0, text.find_first_of(std::string_view("\n\r\0", 3)));
  return std::string(text);
}

ReplyClass reply_class(const Reply &reply) {
  const std::string line = first_line(reply);
  const bool coded = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' &&
                     ascii::is_digit(line[1]) && ascii::is_digit(line[2]) &&
                     (line.size() == 3 || line[3] == ' ' || line[3] == '-');
  if (!coded) return ReplyClass::malformed;
  static constexpr ReplyClass kByFirstDigit[] = {
      ReplyClass::positive_completion, ReplyClass::positive_intermediate,
      ReplyClass::transient_negative, ReplyClass::permanent_negative};
  return kByFirstDigit[line[0] - '2'];
}

} // namespace smtp
