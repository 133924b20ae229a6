#include "oauth/token_cache.h"

#include "oauth/token_answer.h"
#include "text/utf8.h"

#include <nlohmann/json.hpp>

#include <limits>

namespace oauth {
namespace {

using nlohmann::json;

// The record's field names: short, and never changed, since a record
// written by one version is read by the next.
constexpr const char *kTokenUrl = "url";
constexpr const char *kClientId = "client";
constexpr const char *kScope = "scope";
constexpr const char *kUser = "user";
constexpr const char *kIssuedFrom = "from";
constexpr const char *kAccessToken = "token";
constexpr const char *kExpiresAt = "expires";
constexpr const char *kRefreshToken = "refresh";

bool take_string(const json &record, const char *name, std::string &into) {
  const auto member = record.find(name);
  if (member == record.end() || !member->is_string()) return false;
  into = member->get_ref<const std::string &>();
  return true;
}

bool take_time(const json &record, const char *name, std::int64_t &into) {
  const auto member = record.find(name);
  if (member == record.end() || !member->is_number_integer()) return false;
  if (member->is_number_unsigned() &&
      member->get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max()) {
    return false;
  }
  into = member->get<std::int64_t>();
  return true;
}

} // namespace

std::string cache_record(const CachedToken &token) {
  const json record = {
      {kTokenUrl, token.token_url},
      {kClientId, token.client_id},
      {kScope, token.scope},
      {kUser, token.user},
      {kIssuedFrom, token.issued_from},
      {kAccessToken, token.access_token},
      {kExpiresAt, token.expires_at},
      {kRefreshToken, token.refresh_token},
  };
  // A setting in another encoding than UTF-8 costs a new token each run,
  // never a failed run.
  return record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<CachedToken> parse_cache_record(std::string_view text) {
  const json record = json::parse(text, nullptr, false);
  if (record.is_discarded() || !record.is_object()) return std::nullopt;
  CachedToken token;
  const bool whole = take_string(record, kTokenUrl, token.token_url) &&
                     take_string(record, kClientId, token.client_id) &&
                     take_string(record, kScope, token.scope) &&
                     take_string(record, kUser, token.user) &&
                     take_string(record, kIssuedFrom, token.issued_from) &&
                     take_string(record, kAccessToken, token.access_token) &&
                     take_time(record, kExpiresAt, token.expires_at) &&
                     take_string(record, kRefreshToken, token.refresh_token);
  if (!whole || !usable_token(token.access_token) ||
      !(token.refresh_token.empty() || usable_token(token.refresh_token))) {
    return std::nullopt;
  }
  return token;
}

bool could_be_cache(std::string_view text) {
  text = utf8::without_byte_order_mark(text);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first == std::string_view::npos || text[first] == '{';
}

bool minted_for(const CachedToken &token, const Grant &grant, const std::string &user,
                const std::string &secret) {
  // A client credentials grant's secret may change without a new token
  // being needed; a refresh grant's tokens descend from its refresh token.
  const bool same_source = grant.type == GrantType::refresh_token ? token.issued_from == secret
                                                                  : token.issued_from.empty();
  return token.token_url == grant.token_url && token.client_id == grant.client_id &&
         token.scope == grant.scope && token.user == user && same_source;
}

bool still_fresh(const CachedToken &token, std::int64_t now) {
  // Written as a subtraction that cannot overflow: expires_at is whatever
  // the file says.
  return token.expires_at >= std::numeric_limits<std::int64_t>::min() + kExpiryMargin &&
         now < token.expires_at - kExpiryMargin;
}

} // namespace oauth
