// What a token endpoint answers (RFC 6749 5.1, 5.2), read from its JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oauth {

/// The longest lifetime taken from `expires_in`: a year.
inline constexpr std::int64_t kLongestLifetime = 365LL * 24 * 60 * 60;

/// The longest token taken.
inline constexpr std::size_t kLongestToken = 16 * 1024;

/// Whether `token` can be kept and sent: 1 to kLongestToken bytes of
/// printable ASCII (0x21 to 0x7E, which the token's base64 and the XOAUTH2
/// framing can carry).
bool usable_token(std::string_view token);

struct TokenAnswer {
  std::string access_token; ///< empty on failure
  /// Seconds the token lives: a non-negative integer (a number, 1e4 and
  /// 3599.0 included, or a string of digits as some providers send), at
  /// most kLongestLifetime; 0 when absent or not such a number: then the
  /// token is never taken from the cache (its record is still written, for
  /// the refresh token the provider may have rotated with it).
  std::int64_t expires_in = 0;
  std::string refresh_token; ///< a rotated refresh token; empty when none came
  /// Why no token, in words for "Token request to HOST failed: REASON";
  /// empty when there is one.
  std::string failure;
};

/// Judges the answer: HTTP `status` with `body`.
/// - A JSON object with a string `error` (any status): "ERROR: DESCRIPTION",
///   DESCRIPTION the first line of `error_description` (just "ERROR" when it
///   has none), each with every one of `secrets` (the longest first) shown
///   as "<hidden>", every control byte dropped, then cut to 300 bytes; an
///   empty ERROR reads "HTTP STATUS".
/// - Status 200 with a JSON object whose `access_token` is a string that is
///   a usable_token: the token; `refresh_token` likewise or ignored.
/// - Otherwise: "HTTP STATUS" and a reason: "HTTP 500, not JSON", "HTTP
///   200, no access_token", "HTTP 200, access_token not usable", "HTTP 503,
///   neither token nor error".
TokenAnswer parse_token_answer(int status, std::string_view body,
                               const std::vector<std::string> &secrets);

} // namespace oauth
