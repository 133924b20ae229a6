#include "oauth/token_cache.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>
#include <string>
#include <vector>

namespace oauth {
namespace {

using nlohmann::json;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

CachedToken a_token() {
  CachedToken token;
  token.token_url = "https://login.microsoftonline.com/contoso/oauth2/v2.0/token";
  token.client_id = "00000000-0000-0000-0000-000000000001";
  token.scope = "https://outlook.office.com/SMTP.Send offline_access";
  token.user = "jos\xC3\xA9@contoso.example";
  token.issued_from = "1.AQ4A\"\\";
  token.access_token = "eyJ0.e30.c2ln";
  token.expires_at = 1796810400;
  token.refresh_token = "1.AQ4B";
  return token;
}

void expect_same(const CachedToken &read, const CachedToken &written) {
  EXPECT_EQ(read.token_url, written.token_url);
  EXPECT_EQ(read.client_id, written.client_id);
  EXPECT_EQ(read.scope, written.scope);
  EXPECT_EQ(read.user, written.user);
  EXPECT_EQ(read.issued_from, written.issued_from);
  EXPECT_EQ(read.access_token, written.access_token);
  EXPECT_EQ(read.expires_at, written.expires_at);
  EXPECT_EQ(read.refresh_token, written.refresh_token);
}

TEST(CacheRecord, ReadsBackAsWritten) {
  CachedToken without_refresh = a_token();
  without_refresh.refresh_token.clear();
  without_refresh.issued_from.clear();
  CachedToken earliest = a_token();
  earliest.expires_at = kMin;
  CachedToken latest = a_token();
  latest.expires_at = kMax;
  for (const CachedToken &token : {a_token(), without_refresh, earliest, latest}) {
    SCOPED_TRACE(token.expires_at);
    const std::optional<CachedToken> read = parse_cache_record(cache_record(token));
    ASSERT_TRUE(read);
    expect_same(*read, token);
  }
}

TEST(ParseCacheRecord, NothingFromARecordWithAFieldMissingOrOfTheWrongKind) {
  const std::string good = cache_record(a_token());
  const json fields = json::parse(good, nullptr, false);
  ASSERT_TRUE(fields.is_object());
  std::vector<std::string> records = {"",     "{",         "[]",
                                      "null", "\"token\"", good.substr(0, good.size() / 2)};
  for (const auto &field : fields.items()) {
    json missing = fields;
    missing.erase(field.key());
    records.push_back(missing.dump());
    json wrong = fields;
    wrong[field.key()] = field.value().is_string() ? json(1) : json("1796810400");
    records.push_back(wrong.dump());
  }
  const std::vector<std::pair<const char *, json>> bad_values = {
      {"expires", 1796810400.5},
      {"expires", 9223372036854775808u},
      {"token", ""},
      {"token", "a b"},
      {"token", "\xC3\xA9"},
      {"token", std::string(16 * 1024 + 1, 't')},
      {"refresh", "a\nb"},
  };
  for (const auto &[name, value] : bad_values) {
    json bad = fields;
    ASSERT_TRUE(bad.contains(name));
    bad[name] = value;
    records.push_back(bad.dump());
  }
  for (const std::string &record : records) {
    SCOPED_TRACE(record);
    EXPECT_FALSE(parse_cache_record(record));
  }
}

TEST(CouldBeCache, NothingOrAJsonObjectElseAnotherFileNeverReplaced) {
  const std::vector<std::pair<std::string, bool>> rows = {
      {"", true},
      {cache_record(a_token()), true},
      {"{\"settings\":\"of another version\"}", true},
      {"Qx8~Zr.Pq3_kLm-9vWs7\n", false},
      {"user box@example.com\noauth2_grant client_credentials\n", false},
      {"[]", false},
      {" \n{\"token\":\"cut sh", true},
      {"\xEF\xBB\xBF{}", true},
      {"\n", true},
  };
  for (const auto &[text, cache] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(could_be_cache(text), cache);
  }
}

TEST(MintedFor, TheSameEndpointClientScopeUserAndForARefreshGrantItsRefreshToken) {
  const CachedToken token = a_token();
  Grant grant;
  grant.type = GrantType::refresh_token;
  grant.token_url = token.token_url;
  grant.client_id = token.client_id;
  grant.scope = token.scope;
  grant.client_secret = "any";
  CachedToken application_token = token;
  application_token.issued_from.clear();
  Grant application = grant;
  application.type = GrantType::client_credentials;
  struct Row {
    const char *name;
    CachedToken token;
    std::string token_url, client_id, scope, user, secret;
    GrantType type;
    bool minted;
  };
  const std::string &url = token.token_url, &id = token.client_id, &scope = token.scope,
                    &user = token.user, &from = token.issued_from;
  const auto refresh = GrantType::refresh_token, credentials = GrantType::client_credentials;
  const std::vector<Row> rows = {
      {"all the same", token, url, id, scope, user, from, refresh, true},
      {"another token URL", token, url + "2", id, scope, user, from, refresh, false},
      {"another client", token, url, id + "2", scope, user, from, refresh, false},
      {"another scope", token, url, id, "https://outlook.office.com/SMTP.Send", user, from, refresh,
       false},
      {"another user", token, url, id, scope, "jose@contoso.example", from, refresh, false},
      {"another refresh token configured", token, url, id, scope, user, from + "2", refresh, false},
      {"a refresh grant's token for client credentials", token, url, id, scope, user, from,
       credentials, false},
      {"client credentials", application_token, url, id, scope, user, "secret", credentials, true},
      {"client credentials with another secret", application_token, url, id, scope, user, "rotated",
       credentials, true},
      {"a client credentials token for a refresh grant", application_token, url, id, scope, user,
       from, refresh, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Grant asked = grant;
    asked.type = row.type;
    asked.token_url = row.token_url;
    asked.client_id = row.client_id;
    asked.scope = row.scope;
    EXPECT_EQ(minted_for(row.token, asked, row.user, row.secret), row.minted);
  }
}

TEST(MintedFor, ASettingNotUtf8NeverMatchesItsRecord) {
  CachedToken token = a_token();
  token.user = "jos\xE9@contoso.example";
  const std::optional<CachedToken> read = parse_cache_record(cache_record(token));
  ASSERT_TRUE(read);
  Grant grant;
  grant.type = GrantType::refresh_token;
  grant.token_url = token.token_url;
  grant.client_id = token.client_id;
  grant.scope = token.scope;
  EXPECT_TRUE(minted_for(token, grant, token.user, token.issued_from));
  EXPECT_FALSE(minted_for(*read, grant, token.user, token.issued_from));
}

TEST(StillFresh, UntilFiveMinutesBeforeItExpiresWhateverTheNumbers) {
  struct Row {
    std::int64_t expires_at;
    std::int64_t now;
    bool fresh;
  };
  const std::vector<Row> rows = {
      {1796810400, 1796810400 - kExpiryMargin - 1, true},
      {1796810400, 1796810400 - kExpiryMargin, false},
      {1796810400, 1796810400, false},
      {1796810400, 1796810400 + 1, false},
      {0, 0, false},
      {kMax, kMax - kExpiryMargin - 1, true},
      {kMax, kMax - kExpiryMargin, false},
      {kMax, kMax, false},
      {kMax, kMin, true},
      {kMin, kMin, false},
      {kMin + kExpiryMargin - 1, kMin, false},
      {kMin + kExpiryMargin, kMin, false},
      {kMin + kExpiryMargin + 1, kMin, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.expires_at) + " at " + std::to_string(row.now));
    CachedToken token = a_token();
    token.expires_at = row.expires_at;
    EXPECT_EQ(still_fresh(token, row.now), row.fresh);
  }
}

} // namespace
} // namespace oauth
