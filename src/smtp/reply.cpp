#include "smtp/reply.h"

#include "smtp/leading_number.h"

namespace smtp {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool continues_reply(std::string_view line) {
  return line.size() >= 4 && is_digit(line[0]) && is_digit(line[1]) && is_digit(line[2]) &&
         line[3] == '-';
}

} // namespace

std::optional<std::size_t> complete_reply_length(std::string_view received) {
  std::size_t start = 0;
  for (;;) {
    std::size_t newline = received.find('\n', start);
    if (newline == std::string_view::npos) return std::nullopt;
    if (!continues_reply(received.substr(start, newline - start))) return newline + 1;
    start = newline + 1;
  }
}

Reply make_reply(std::string text) {
  int code = leading_number(text);
  return {std::move(text), code};
}

std::string first_line(const Reply &reply) {
  std::string_view text = reply.text;
  text = text.substr(0, text.find_first_of(std::string_view("\n\r\0", 3)));
  return std::string(text);
}

} // namespace smtp
