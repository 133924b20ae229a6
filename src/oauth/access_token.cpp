#include "oauth/access_token.h"

#include "config/file_faults.h"
#include "log/debug_log.h"
#include "oauth/token_cache.h"
#include "oauth/token_request.h"
#include "platform/settings_file.h"

#include <optional>

namespace oauth {
namespace {

struct CacheRead {
  std::optional<CachedToken> record; ///< a sound record, whatever it was minted for
  std::string refusal;               ///< why the cache may not be used at all
};

// A cache in a place others may reach is refused, as a password file is:
// its tokens would be theirs. A link another user made, or a cache the
// caller may not open (another account's run left it), is passed over: the
// rename that writes the cache replaces the name, never the file behind it.
CacheRead read_cache(const std::string &path) {
  const platform::FileText file =
      platform::read_regular_file(path, platform::Contents::token_cache);
  if (file.missing || file.denied || file.standing == platform::Standing::foreign_link) return {};
  if (!file.error.empty())
    return {{}, "Token cache: cannot read " + path + " (" + file.error + ")"};
  if (file.standing != platform::Standing::trusted) {
    return {{}, "Token cache: " + path + " " + config::standing_fault(file, path)};
  }
  std::string fault = config::exposure_fault(file.exposure, path);
  if (!fault.empty()) return {{}, "Token cache: " + fault};
  // Another file of the caller's named as the cache is refused, never
  // replaced, however large: the cache would overwrite it.
  if (!could_be_cache(file.text)) return {{}, "Token cache: " + path + " is not a token cache"};
  if (file.text.size() > platform::kSettingsLimit) return {};
  return {parse_cache_record(file.text), {}};
}

void keep(const std::string &path, const CachedToken &record) {
  const std::string fault = platform::replace_private_file(path, cache_record(record));
  if (!fault.empty()) logs::debug_log("Token cache " + path + " not written: " + fault + "\n");
}

} // namespace

AccessToken access_token(const Grant &grant, const std::string &user, const std::string &secret,
                         const smtp::Connect &connect, std::int64_t now, CacheUse use) {
  const bool cached = !grant.cache_path.empty();
  CacheRead cache = cached ? read_cache(grant.cache_path) : CacheRead{};
  if (!cache.refusal.empty()) return {{}, false, cache.refusal};
  if (cache.record && !minted_for(*cache.record, grant, user, secret)) cache.record.reset();
  if (cache.record && use == CacheUse::any && still_fresh(*cache.record, now)) {
    logs::debug_log("Token from the cache " + grant.cache_path + ", for " +
                    std::to_string(cache.record->expires_at - now) + " seconds more\n");
    return {cache.record->access_token, true, {}};
  }
  // Microsoft's refresh tokens live 90 days from their issue unless
  // replaced: the latest one the provider rotated is the one to use.
  const bool rotated = grant.type == GrantType::refresh_token && cache.record &&
                       !cache.record->refresh_token.empty();
  TokenAnswer answer =
      request_token(grant, rotated ? cache.record->refresh_token : secret, connect);
  if (!answer.failure.empty()) return {{}, false, std::move(answer.failure)};
  if (cached) {
    CachedToken record{grant.token_url,     grant.client_id,         grant.scope, user, {},
                       answer.access_token, now + answer.expires_in, {}};
    if (grant.type == GrantType::refresh_token) {
      // A provider that does not rotate leaves the last one in force.
      record.issued_from = secret;
      record.refresh_token = !answer.refresh_token.empty() ? answer.refresh_token
                             : rotated                     ? cache.record->refresh_token
                                                           : std::string();
    }
    keep(grant.cache_path, record);
  }
  return {std::move(answer.access_token), false, {}};
}

} // namespace oauth
