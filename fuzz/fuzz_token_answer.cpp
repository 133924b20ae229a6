// The token endpoint's answer judged, whatever its status and body:
// - a token when and only when there is no failure, and only for status
//   200;
// - the tokens are 1 to 16 KiB of printable ASCII, fit for the XOAUTH2
//   framing; no refresh token and no lifetime without an access token;
// - the lifetime is 0 to a year;
// - the failure has no control byte, and holds at most an error code and
//   the first line of its description, 300 bytes each.
//
// Input: two bytes for the status (their value modulo 1000, high byte
// first), the body.
#include "fuzz_support.h"
#include "oauth/token_answer.h"

#include <algorithm>
#include <string>

namespace {

using fuzz::require;

bool printable_token(const std::string &token) {
  return !token.empty() && token.size() <= 16 * 1024 &&
         std::all_of(token.begin(), token.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  const int status = (data[0] << 8 | data[1]) % 1000;
  const oauth::TokenAnswer answer =
      oauth::parse_token_answer(status, fuzz::as_text(data + 2, size - 2), {});

  require(answer.access_token.empty() != answer.failure.empty(),
          "a token when and only when there is no failure");
  require(answer.access_token.empty() || status == 200, "a token only from status 200");
  require(answer.access_token.empty() || printable_token(answer.access_token),
          "an access token is printable ASCII, 1 to 16 KiB");
  require(answer.refresh_token.empty() || printable_token(answer.refresh_token),
          "a refresh token is printable ASCII, 1 to 16 KiB");
  require(!answer.access_token.empty() || (answer.refresh_token.empty() && answer.expires_in == 0),
          "nothing else without an access token");
  require(answer.expires_in >= 0 && answer.expires_in <= oauth::kLongestLifetime,
          "a lifetime of 0 to a year");
  require(std::none_of(answer.failure.begin(), answer.failure.end(),
                       [](char c) { return (c >= 0 && c < 0x20) || c == 0x7F; }),
          "no control byte in the failure");
  require(answer.failure.size() <= 300 + 2 + 300, "a failure of two texts of 300 bytes at most");
  return 0;
}
