#include "smtp/capabilities.h"

#include "text/ascii.h"

#include <algorithm>
#include <string_view>

namespace smtp {
namespace {

std::string upper_case(std::string_view text) {
  std::string upper(text);
  for (char &c : upper) c = ascii::to_upper(c);
  return upper;
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> found;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = text.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(text.find(' ', start), text.size());
    found.push_back(upper_case(text.substr(start, end - start)));
    at = end;
  }
  return found;
}

void take_line(std::string_view line, Capabilities &offered) {
  offered.extensions.emplace_back(line);
  const std::size_t end = line.find_first_of(" =");
  const std::string keyword = upper_case(line.substr(0, end));
  std::string_view parameters = end == std::string_view::npos ? "" : line.substr(end + 1);
  parameters.remove_prefix(std::min(parameters.find_first_not_of(' '), parameters.size()));
  if (keyword == "STARTTLS") offered.starttls = true;
  if (keyword == "8BITMIME") offered.eight_bit_mime = true;
  if (keyword != "AUTH") return;
  if (offered.auth_offered.empty()) offered.auth_offered = std::string(parameters);
  for (std::string &mechanism : words(parameters)) offered.auth.push_back(std::move(mechanism));
}

} // namespace

Capabilities parse_capabilities(const Reply &ehlo_reply) {
  Capabilities offered;
  std::string_view text = ehlo_reply.text;
  // The first line names the server; each later one is "250-" or "250 " and
  // an extension.
  for (bool first = true; !text.empty(); first = false) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!first && line.size() > 4) take_line(line.substr(4), offered);
  }
  return offered;
}

} // namespace smtp
