#include "smtp_server/command.h"

#include "intake/address.h"
#include "text/ascii.h"

#include <algorithm>

namespace smtp_server {
namespace {

bool same_letters(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii::to_lower(text[i]) != ascii::to_lower(upper[i])) return false;
  }
  return true;
}

std::string_view without_leading_blanks(std::string_view text) {
  std::size_t start = text.find_first_not_of(' ');
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// No byte of an address may end the command or the field it goes into.
bool is_path_byte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte != 0x7F && c != '<' && c != '>';
}

} // namespace

Command parse_command(std::string_view line) {
  struct Row {
    std::string_view name;
    Verb verb;
  };
  static constexpr Row kVerbs[] = {{"HELO", Verb::helo}, {"EHLO", Verb::ehlo}, {"MAIL", Verb::mail},
                                   {"RCPT", Verb::rcpt}, {"DATA", Verb::data}, {"RSET", Verb::rset},
                                   {"NOOP", Verb::noop}, {"QUIT", Verb::quit}};
  std::size_t blank = line.find(' ');
  std::string_view name = line.substr(0, blank);
  std::string_view argument =
      blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
  for (const Row &row : kVerbs) {
    if (same_letters(name, row.name)) return {row.verb, without_leading_blanks(argument)};
  }
  return {Verb::other, argument};
}

std::optional<std::string> parse_path(std::string_view argument, std::string_view keyword,
                                      bool empty_allowed) {
  if (argument.size() < keyword.size() ||
      !same_letters(argument.substr(0, keyword.size()), keyword)) {
    return std::nullopt;
  }
  std::string_view rest = without_leading_blanks(argument.substr(keyword.size()));
  std::size_t close = rest.find('>');
  if (rest.empty() || rest.front() != '<' || close == std::string_view::npos) return std::nullopt;
  std::string_view path = rest.substr(0, close + 1);
  std::string_view after = rest.substr(close + 1);
  for (char c : path.substr(1, path.size() - 2)) {
    if (!is_path_byte(c)) return std::nullopt;
  }
  if (!after.empty() && after.front() != ' ') return std::nullopt;
  if ((path.size() == 2 && !empty_allowed) || path.size() > intake::kMaxEnvelopeForm) {
    return std::nullopt;
  }
  return std::string(path);
}

bool declares_8bitmime(std::string_view argument) {
  std::string_view parameters = argument.substr(std::min(argument.find('>'), argument.size()));
  for (std::size_t at = 0; at < parameters.size();) {
    const std::size_t end = std::min(parameters.find(' ', at), parameters.size());
    if (same_letters(parameters.substr(at, end - at), "BODY=8BITMIME")) return true;
    at = end + 1;
  }
  return false;
}

} // namespace smtp_server
