// The token request's body: an HTML form, application/x-www-form-urlencoded
// (RFC 6749 4.4.2, 6; the encoding of the WHATWG URL standard, 5.2).
#pragma once

#include "oauth/grant.h"

#include <string>
#include <string_view>

namespace oauth {

/// `text` form-encoded: ASCII letters, digits and "*-._" as they are, a
/// space as "+", every other byte as "%XX" (upper-case hex).
std::string form_encoded(std::string_view text);

/// The body of `grant`'s token request, its parameters in this order,
/// each name=value form-encoded and joined by "&": grant_type, client_id,
/// then for client credentials client_secret=`secret`, for a refresh grant
/// refresh_token=`secret` and client_secret when the grant has one; scope
/// last when not empty.
std::string token_request_body(const Grant &grant, const std::string &secret);

} // namespace oauth
