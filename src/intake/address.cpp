#include "intake/address.h"

#include "intake/recipients.h"

namespace intake {
namespace {

template <typename Visit>
void for_each_token(std::string_view text, std::string_view separators, Visit visit) {
  std::size_t start = text.find_first_not_of(separators);
  while (start != std::string_view::npos) {
    std::size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    if (!visit(text.substr(start, end - start))) return;
    start = text.find_first_not_of(separators, end);
  }
}

bool has_at(std::string_view text) { return text.find('@') != std::string_view::npos; }

} // namespace

std::string envelope_address(std::string_view text) {
  std::string_view chosen = text;
  for_each_token(text, " \r\n", [&](std::string_view token) {
    if (!has_at(token)) return true;
    chosen = token;
    return false;
  });
  return in_angle_brackets(chosen);
}

std::vector<std::string> header_addresses(std::string_view text) {
  const bool only_with_at = has_at(text);
  std::size_t first = text.find_first_not_of(" \t");
  text.remove_prefix(first == std::string_view::npos ? text.size() : first);

  std::vector<std::string> candidates;
  for_each_token(text, " ,\r\n", [&](std::string_view token) {
    // A piece of a comment "(...)" or of a quoted phrase is no address.
    if (token.front() == '(' || token.front() == '"') return true;
    std::string candidate = in_angle_brackets(token);
    if (!only_with_at || has_at(candidate)) candidates.push_back(std::move(candidate));
    return true;
  });
  return candidates;
}

} // namespace intake
