// The token cache's record: the one state quillrun keeps between runs. It
// holds an access token with its expiry, what it was minted for, and a
// refresh token the provider rotated, as a JSON object.
#pragma once

#include "oauth/grant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oauth {

/// A token is not used in its last five minutes: it must outlive the run.
inline constexpr std::int64_t kExpiryMargin = 5 * 60;

struct CachedToken {
  // What it was minted for: another grant never uses it.
  std::string token_url;
  std::string client_id;
  std::string scope;
  std::string user;
  /// The configured refresh token the cached ones descend from (a refresh
  /// grant only): a new one configured makes the cache another grant's.
  std::string issued_from;
  std::string access_token;
  std::int64_t expires_at = 0; ///< seconds since 1970-01-01 UTC
  std::string refresh_token;   ///< the latest rotated refresh token; may be empty
};

/// The record's text: one JSON object. A field that is not UTF-8 is
/// written with U+FFFD for its bad bytes: that record then matches no grant.
std::string cache_record(const CachedToken &token);

/// The record in `text`; nothing when it is not one (corrupt, cut short,
/// fields missing or of the wrong type, tokens not printable ASCII).
std::optional<CachedToken> parse_cache_record(std::string_view text);

/// Whether `text` may be a token cache's: blank, or a JSON object (after
/// any byte order mark), a record or not, whole or cut short (a cache gone
/// corrupt is replaced). Any other
/// text is another file's (a password file, a quillrun.ini named by
/// mistake), which the cache must never replace.
bool could_be_cache(std::string_view text);

/// Whether `token` was minted for `grant` with `user` and, for a refresh
/// grant, from the configured refresh token `secret`.
bool minted_for(const CachedToken &token, const Grant &grant, const std::string &user,
                const std::string &secret);

/// Whether `token`'s access token may still be used at `now` (seconds since
/// the epoch): until kExpiryMargin before it expires.
bool still_fresh(const CachedToken &token, std::int64_t now);

} // namespace oauth
