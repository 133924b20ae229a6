#include "oauth/token_answer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace oauth {
namespace {

const std::string kMicrosoftRefusal =
    R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client secret )"
    R"(provided. Ensure the secret being sent in the request is the client secret value, not )"
    R"(the client secret ID, for a secret added to app '00000000-0000-0000-0000-000000000000'.)"
    R"(\r\nTrace ID: 0a1b\r\nCorrelation ID: 2c3d\r\nTimestamp: 2026-12-09 10:00:00Z",)"
    R"("error_codes":[7000215],"timestamp":"2026-12-09 10:00:00Z","trace_id":"0a1b",)"
    R"("correlation_id":"2c3d","error_uri":"https://login.microsoftonline.com/error?code=7000215"})";

// The client secret the request carried, form-encoded and as it is.
const std::vector<std::string> kSecrets = {"Qx8%7EZr.Pq3", "Qx8~Zr.Pq3"};

std::string repeated(const std::string &text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

std::string with_token(const std::string &token) {
  return R"({"token_type":"Bearer","access_token":")" + token + R"("})";
}

TEST(ParseTokenAnswer, ATokenFromAn200AnswerAndTheReasonOtherwise) {
  struct Row {
    const char *name;
    int status;
    std::string body;
    std::string token;
    std::string refresh_token;
    std::string failure;
  };
  const std::string longest(kLongestToken, 't');
  const std::vector<Row> rows = {
      {"Microsoft", 200,
       R"({"token_type":"Bearer","expires_in":3599,"ext_expires_in":3599,"access_token":"eyJ0.e30.c2ln"})",
       "eyJ0.e30.c2ln", "", ""},
      {"Microsoft, refresh grant", 200,
       R"({"token_type":"Bearer","scope":"https://outlook.office.com/SMTP.Send",)"
       R"("expires_in":4701,"ext_expires_in":4701,"access_token":"eyJ0.e30.c2ln",)"
       R"("refresh_token":"1.AQ4A-x_y"})",
       "eyJ0.e30.c2ln", "1.AQ4A-x_y", ""},
      {"Google", 200,
       R"({"access_token":"ya29.a0Af","expires_in":3599,"scope":"https://mail.google.com/",)"
       R"("token_type":"Bearer"})",
       "ya29.a0Af", "", ""},
      {"Microsoft's refusal: the first line of the description", 401, kMicrosoftRefusal, "", "",
       "invalid_client: AADSTS7000215: Invalid client secret provided. Ensure the secret being "
       "sent in the request is the client secret value, not the client secret ID, for a secret "
       "added to app '00000000-0000-0000-0000-000000000000'."},
      {"Google's refusal", 400, R"({"error":"invalid_grant","error_description":"Bad Request"})",
       "", "", "invalid_grant: Bad Request"},
      {"an error alone", 400, R"({"error":"invalid_scope"})", "", "", "invalid_scope"},
      {"a description not a string", 400, R"({"error":"invalid_scope","error_description":7})", "",
       "", "invalid_scope"},
      {"an error beside a token", 200, R"({"error":"slow_down","access_token":"t"})", "", "",
       "slow_down"},
      {"an empty error", 400, R"({"error":"","error_description":"\nnothing"})", "", "",
       "HTTP 400"},
      {"control bytes", 400,
       R"({"error":"bad\u0000\u001b[31m\u007f","error_description":"\u0007one\ttwo\rthree"})", "",
       "", "bad[31m: onetwo"},
      {"a long error", 400, R"({"error":")" + std::string(400, 'e') + R"("})", "", "",
       std::string(300, 'e')},
      {"a long description cut before a UTF-8 sequence", 400,
       R"({"error":"e","error_description":"a)" + repeated("\xC3\xA9", 150) + R"("})", "", "",
       "e: a" + repeated("\xC3\xA9", 149)},
      // An endpoint may quote the request: its secrets are hidden before the cut.
      {"the request's form quoted", 400,
       R"({"error":"invalid_request","error_description":"bad form: client_secret=Qx8%7EZr.Pq3"})",
       "", "", "invalid_request: bad form: client_secret=<hidden>"},
      {"a secret across the cut", 400,
       R"({"error":"e","error_description":")" + std::string(295, 'x') + R"(Qx8~Zr.Pq3"})", "", "",
       "e: " + std::string(295, 'x') + "<hidd"},
      {"an error not a string", 400, R"({"error":1})", "", "", "HTTP 400, neither token nor error"},
      {"a 503 without error", 503, R"({"message":"try later"})", "", "",
       "HTTP 503, neither token nor error"},
      {"an HTML 500", 500, "<html><body><h1>500 Internal Server Error</h1></body></html>", "", "",
       "HTTP 500, not JSON"},
      {"an empty body", 200, "", "", "", "HTTP 200, not JSON"},
      {"a JSON array", 200, R"([{"access_token":"t"}])", "", "", "HTTP 200, not JSON"},
      {"JSON cut short", 200, R"({"access_token":"t")", "", "", "HTTP 200, not JSON"},
      {"not UTF-8", 200, "{\"access_token\":\"t\",\"x\":\"\xFF\"}", "", "", "HTTP 200, not JSON"},
      {"no access_token", 200, R"({"token_type":"Bearer","expires_in":3599})", "", "",
       "HTTP 200, no access_token"},
      {"an access_token not a string", 200, R"({"access_token":12345})", "", "",
       "HTTP 200, access_token not usable"},
      {"an empty access_token", 200, with_token(""), "", "", "HTTP 200, access_token not usable"},
      {"a blank in the token", 200, with_token("a b"), "", "", "HTTP 200, access_token not usable"},
      {"a line end in the token", 200, with_token(R"(a\r\nb)"), "", "",
       "HTTP 200, access_token not usable"},
      {"a token not ASCII", 200, with_token(R"(a\u00e9)"), "", "",
       "HTTP 200, access_token not usable"},
      {"a token of 16 KiB", 200, with_token(longest), longest, "", ""},
      {"a token past 16 KiB", 200, with_token(longest + "t"), "", "",
       "HTTP 200, access_token not usable"},
      {"a refresh_token not usable", 200, R"({"access_token":"t","refresh_token":"a b"})", "t", "",
       ""},
      {"a refresh_token not a string", 200, R"({"access_token":"t","refresh_token":[]})", "t", "",
       ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const TokenAnswer answer = parse_token_answer(row.status, row.body, kSecrets);
    EXPECT_EQ(answer.access_token, row.token);
    EXPECT_EQ(answer.refresh_token, row.refresh_token);
    EXPECT_EQ(answer.failure, row.failure);
  }
}

TEST(ParseTokenAnswer, ExpiresInANonNegativeIntegerUpToAYear) {
  struct Row {
    std::string expires_in; ///< as the JSON has it; empty: absent
    std::int64_t seconds;
  };
  const std::vector<Row> rows = {
      {"3599", 3599},
      {"\"3599\"", 3599},
      {"0", 0},
      {"31536000", kLongestLifetime},
      {"31536001", kLongestLifetime},
      {"99999999999999999999", kLongestLifetime},
      {"\"99999999999999999999\"", kLongestLifetime},
      {"1e300", kLongestLifetime},
      {"3.599e3", 3599},
      {"3599.0", 3599},
      {"3599.5", 0},
      {"-1", 0},
      {"-1e300", 0},
      {"\"-5\"", 0},
      {"\" 3599\"", 0},
      {"\"\"", 0},
      {"true", 0},
      {"null", 0},
      {"", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.expires_in);
    const std::string body = row.expires_in.empty()
                                 ? R"({"access_token":"t"})"
                                 : R"({"access_token":"t","expires_in":)" + row.expires_in + "}";
    const TokenAnswer answer = parse_token_answer(200, body, {});
    EXPECT_EQ(answer.access_token, "t");
    EXPECT_EQ(answer.expires_in, row.seconds);
  }
}

} // namespace
} // namespace oauth
