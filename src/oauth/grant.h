// What quillrun.ini asks of an OAuth 2.0 token endpoint (RFC 6749): which
// grant, at which endpoint, for which client and scope, and where the token
// is kept between runs. The grant's own secret (the client secret, or the
// refresh token) comes from the login's secret source, never from here.
#pragma once

#include <string>

namespace oauth {

enum class GrantType {
  client_credentials, ///< RFC 6749 4.4: the application's own token
  refresh_token,      ///< RFC 6749 6: a user's token, from a refresh token
};

struct Grant {
  GrantType type = GrantType::client_credentials;
  std::string token_url; ///< "https://HOST[:PORT]/PATH"
  std::string client_id;
  std::string scope;         ///< as sent; empty: none sent
  std::string client_secret; ///< a refresh grant's client secret; empty: none sent
  std::string cache_path;    ///< the token cache; empty: none kept
  std::string proxy;         ///< "HOST:PORT" of an HTTP proxy; empty: none
};

/// Microsoft's token endpoint for the tenant `tenant` (a domain or an ID).
inline std::string microsoft_token_url(const std::string &tenant) {
  return "https://login.microsoftonline.com/" + tenant + "/oauth2/v2.0/token";
}

/// The scope Microsoft's endpoint needs for SMTP by `type`.
inline std::string microsoft_scope(GrantType type) {
  return type == GrantType::client_credentials
             ? "https://outlook.office365.com/.default"
             : "https://outlook.office.com/SMTP.Send offline_access";
}

} // namespace oauth
