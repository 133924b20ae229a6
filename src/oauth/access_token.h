// The access token for XOAUTH2, minted by quillrun itself: taken from the
// token cache while it is fresh and was minted for the same grant, else
// requested from the endpoint and kept in the cache for the runs after.
#pragma once

#include "oauth/grant.h"
#include "smtp/client.h"

#include <cstdint>
#include <string>

namespace oauth {

struct AccessToken {
  std::string token;       ///< empty on failure
  bool from_cache = false; ///< the token came from the cache, not the endpoint
  /// The whole text of the fault (request_token's, or "Token cache: PATH
  /// REASON"); empty when there is a token.
  std::string failure;
};

/// How the cache is consulted.
enum class CacheUse {
  any,   ///< a fresh cached token is used
  renew, ///< the cached token was refused: a new one is requested
};

/// The access token of `grant` for `user`, `secret` being the client
/// secret or the configured refresh token; `now` in seconds since the epoch.
/// With a cache (grant.cache_path): a fresh token minted for the same
/// endpoint, client, scope, user and configured refresh token is used
/// (unless `use` is renew); a refresh grant asks with the latest refresh
/// token the provider rotated; a new token is written to the cache with
/// its expiry and any rotated refresh token. A cache that others may read
/// or write, or whose folder they may write, is refused, and so is a file
/// that does not begin as a JSON object does ("Token cache: PATH is not a
/// token cache"): it is some other file (could_be_cache). One that is a
/// link another user made, one the caller may not open, or a JSON object
/// that is corrupt, no sound record or minted for other settings is passed
/// over and replaced. A cache that
/// cannot be written costs the next run a request, nothing more: the debug
/// log says so.
AccessToken access_token(const Grant &grant, const std::string &user, const std::string &secret,
                         const smtp::Connect &connect, std::int64_t now, CacheUse use);

} // namespace oauth
