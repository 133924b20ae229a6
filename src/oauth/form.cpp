#include "oauth/form.h"

namespace oauth {
namespace {

bool is_kept(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*' ||
         c == '-' || c == '.' || c == '_';
}

void add_parameter(std::string &body, std::string_view name, std::string_view value) {
  if (!body.empty()) body += '&';
  body += name;
  body += '=';
  body += form_encoded(value);
}

} // namespace

std::string form_encoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (is_kept(c)) {
      encoded += c;
    } else if (c == ' ') {
      encoded += '+';
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  return encoded;
}

std::string token_request_body(const Grant &grant, const std::string &secret) {
  std::string body;
  if (grant.type == GrantType::client_credentials) {
    add_parameter(body, "grant_type", "client_credentials");
    add_parameter(body, "client_id", grant.client_id);
    add_parameter(body, "client_secret", secret);
  } else {
    add_parameter(body, "grant_type", "refresh_token");
    add_parameter(body, "client_id", grant.client_id);
    add_parameter(body, "refresh_token", secret);
    if (!grant.client_secret.empty()) add_parameter(body, "client_secret", grant.client_secret);
  }
  if (!grant.scope.empty()) add_parameter(body, "scope", grant.scope);
  return body;
}

} // namespace oauth
