#include "oauth/token_answer.h"

#include "smtp/redaction.h"
#include "text/ascii.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace oauth {
namespace {

using nlohmann::json;

/// The most of an error code or description shown.
constexpr std::size_t kLongestErrorText = 300;

// `text` with every one of `secrets` hidden, without control bytes, cut to
// kLongestErrorText bytes, never inside a UTF-8 sequence. The secrets go
// first: a cut could leave part of one.
std::string shown(const std::string &text, const std::vector<std::string> &secrets) {
  std::string kept;
  for (char c : smtp::hide_secrets(text, secrets)) {
    if (!ascii::is_control(c)) kept += c;
  }
  if (kept.size() <= kLongestErrorText) return kept;
  std::size_t cut = kLongestErrorText;
  while (cut > 0 && (static_cast<unsigned char>(kept[cut]) & 0xC0) == 0x80) --cut;
  kept.resize(cut);
  return kept;
}

// The string member `name` of `object`; nothing when it is absent or not a
// string.
const std::string *string_member(const json &object, const char *name) {
  const auto member = object.find(name);
  return member != object.end() && member->is_string() ? &member->get_ref<const std::string &>()
                                                       : nullptr;
}

// RFC 6749 5.2: "error", with "error_description" to help the developer,
// which may quote the request and its secrets.
std::string refusal(int status, const json &answer, const std::string &error,
                    const std::vector<std::string> &secrets) {
  std::string words = shown(error, secrets);
  if (words.empty()) words = "HTTP " + std::to_string(status);
  if (const std::string *description = string_member(answer, "error_description")) {
    const std::string line =
        shown(description->substr(0, description->find_first_of("\r\n")), secrets);
    if (!line.empty()) words += ": " + line;
  }
  return words;
}

std::int64_t lifetime_of_digits(const std::string &digits) {
  if (digits.empty()) return 0;
  std::int64_t seconds = 0;
  for (char c : digits) {
    if (!ascii::is_digit(c)) return 0;
    seconds = std::min(seconds * 10 + (c - '0'), kLongestLifetime + 1);
  }
  return std::min(seconds, kLongestLifetime);
}

// `expires_in` (RFC 6749 5.1): seconds, a JSON number or as some providers
// send it a string of digits.
std::int64_t lifetime_of(const json &answer) {
  const auto member = answer.find("expires_in");
  if (member == answer.end()) return 0;
  if (member->is_string()) return lifetime_of_digits(member->get_ref<const std::string &>());
  if (member->is_number_unsigned()) {
    return static_cast<std::int64_t>(
        std::min(member->get<std::uint64_t>(), static_cast<std::uint64_t>(kLongestLifetime)));
  }
  if (member->is_number_integer()) return 0; // negative
  if (!member->is_number_float()) return 0;
  // A huge integer, or one written with a fraction or an exponent.
  const double seconds = member->get<double>();
  if (!(seconds >= 0) || std::floor(seconds) != seconds) return 0;
  return seconds >= static_cast<double>(kLongestLifetime) ? kLongestLifetime
                                                          : static_cast<std::int64_t>(seconds);
}

TokenAnswer failed(int status, const char *reason) {
  TokenAnswer answer;
  answer.failure = "HTTP " + std::to_string(status) + ", " + reason;
  return answer;
}

} // namespace

bool usable_token(std::string_view token) {
  return !token.empty() && token.size() <= kLongestToken &&
         std::all_of(token.begin(), token.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

TokenAnswer parse_token_answer(int status, std::string_view body,
                               const std::vector<std::string> &secrets) {
  const json answer = json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) return failed(status, "not JSON");
  if (const std::string *error = string_member(answer, "error")) {
    TokenAnswer refused;
    refused.failure = refusal(status, answer, *error, secrets);
    return refused;
  }
  if (status != 200) return failed(status, "neither token nor error");
  const auto token = answer.find("access_token");
  if (token == answer.end()) return failed(status, "no access_token");
  if (!token->is_string() || !usable_token(token->get_ref<const std::string &>())) {
    return failed(status, "access_token not usable");
  }

  TokenAnswer granted;
  granted.access_token = token->get_ref<const std::string &>();
  granted.expires_in = lifetime_of(answer);
  if (const std::string *refresh = string_member(answer, "refresh_token")) {
    if (usable_token(*refresh)) granted.refresh_token = *refresh;
  }
  return granted;
}

} // namespace oauth
