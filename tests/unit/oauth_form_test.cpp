#include "oauth/endpoint.h"
#include "oauth/form.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace oauth {
namespace {

TEST(FormEncoded, KeepsLettersDigitsAndStarDashDotUnderscoreAndEncodesEveryOtherByte) {
  struct Row {
    std::string text;
    std::string encoded;
  };
  const std::vector<Row> rows = {
      {"aZ09*-._", "aZ09*-._"},
      {"a b", "a+b"},
      {"+&=%", "%2B%26%3D%25"},
      {"https://outlook.office.com/SMTP.Send offline_access",
       "https%3A%2F%2Foutlook.office.com%2FSMTP.Send+offline_access"},
      {"~!'()", "%7E%21%27%28%29"},
      {"\xC3\xA9\xFF", "%C3%A9%FF"},
      {std::string("\0\r\n\t\x7F", 5), "%00%0D%0A%09%7F"},
      {"", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(form_encoded(row.text), row.encoded);
  }
}

TEST(TokenRequestBody, TheGrantsParametersInOrderEachEncoded) {
  Grant application;
  application.client_id = "id 1";
  application.scope = "https://outlook.office365.com/.default";
  Grant user = application;
  user.type = GrantType::refresh_token;
  user.scope = "a b";
  Grant unscoped = application;
  unscoped.scope.clear();
  Grant public_client = user;
  public_client.client_secret.clear();
  Grant confidential_client = user;
  confidential_client.client_secret = "s&t";
  struct Row {
    const char *name;
    Grant grant;
    std::string secret;
    std::string body;
  };
  const std::vector<Row> rows = {
      {"client credentials", application, "x+y=z",
       "grant_type=client_credentials&client_id=id+1&client_secret=x%2By%3Dz"
       "&scope=https%3A%2F%2Foutlook.office365.com%2F.default"},
      {"no scope", unscoped, "s", "grant_type=client_credentials&client_id=id+1&client_secret=s"},
      {"refresh without client secret", public_client, "0.A%b",
       "grant_type=refresh_token&client_id=id+1&refresh_token=0.A%25b&scope=a+b"},
      {"refresh with client secret", confidential_client, "r",
       "grant_type=refresh_token&client_id=id+1&refresh_token=r&client_secret=s%26t&scope=a+b"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(token_request_body(row.grant, row.secret), row.body);
  }
}

TEST(ParseHttpsUrl, HostPortAndPathOfAnHttpsUrlAndNothingForAnythingElse) {
  struct Row {
    std::string url;
    std::optional<Endpoint> endpoint;
  };
  const auto at = [](const char *host, int port, const char *path) {
    return std::optional<Endpoint>(Endpoint{host, port, path});
  };
  const std::vector<Row> rows = {
      {"https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token",
       at("login.microsoftonline.com", 443, "/contoso.onmicrosoft.com/oauth2/v2.0/token")},
      {"HTTPS://oauth2.googleapis.com/token", at("oauth2.googleapis.com", 443, "/token")},
      {"https://127.0.0.1:8443/t?a=b", at("127.0.0.1", 8443, "/t?a=b")},
      {"https://[::1]:1/", at("[::1]", 1, "/")},
      {"https://[2001:db8::1]/x", at("[2001:db8::1]", 443, "/x")},
      {"https://idp.example", at("idp.example", 443, "/")},
      {"https://idp.example?q=1", at("idp.example", 443, "/?q=1")},
      {"https://idp.example:65535", at("idp.example", 65535, "/")},
      {"http://idp.example/token", std::nullopt},
      {"idp.example/token", std::nullopt},
      {"https://", std::nullopt},
      {"https:///token", std::nullopt},
      {"https://:443/token", std::nullopt},
      {"https://user@idp.example/token", std::nullopt},
      {"https://user:pw@idp.example/token", std::nullopt},
      {"https://idp.example/token#part", std::nullopt},
      {"https://idp.example:0/", std::nullopt},
      {"https://idp.example:65536/", std::nullopt},
      {"https://idp.example:/", std::nullopt},
      {"https://idp.example:44x/", std::nullopt},
      {"https://idp.example/a b", std::nullopt},
      {"https://idp.example/a\r\nHost: x", std::nullopt},
      {"https://id\xC3\xA9.example/", std::nullopt},
      {"https://[::1/", std::nullopt},
      {"https://[::1]x/", std::nullopt},
      {"https://[idp.example]/", std::nullopt},
      {"https://idp%2eexample/", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.url);
    const std::optional<Endpoint> endpoint = parse_https_url(row.url);
    ASSERT_EQ(endpoint.has_value(), row.endpoint.has_value());
    if (!endpoint) continue;
    EXPECT_EQ(endpoint->host, row.endpoint->host);
    EXPECT_EQ(endpoint->port, row.endpoint->port);
    EXPECT_EQ(endpoint->path, row.endpoint->path);
  }
}

TEST(ParseProxy, HostAndAPortFrom1To65535) {
  struct Row {
    std::string text;
    std::string host; ///< empty: nothing
    int port;
  };
  const std::vector<Row> rows = {
      {"proxy.example:3128", "proxy.example", 3128},
      {"10.0.0.1:8080", "10.0.0.1", 8080},
      {"[fe80::1]:80", "[fe80::1]", 80},
      {"proxy.example", "", 0},
      {"proxy.example:", "", 0},
      {"proxy.example:0", "", 0},
      {"proxy.example:99999", "", 0},
      {":3128", "", 0},
      {"fe80::1:80", "", 0},
      {"http://proxy.example:3128", "", 0},
      {"proxy.example:3128/", "", 0},
      {"proxy .example:3128", "", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    const std::optional<Endpoint> proxy = parse_proxy(row.text);
    ASSERT_EQ(proxy.has_value(), !row.host.empty());
    if (!proxy) continue;
    EXPECT_EQ(proxy->host, row.host);
    EXPECT_EQ(proxy->port, row.port);
  }
}

} // namespace
} // namespace oauth
