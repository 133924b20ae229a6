// What a TLS connection is, once both ends have agreed on it: the protocol,
// the cipher and the server's certificate, as plain data that both backends
// fill, and its words for a person, the same on every platform.
#pragma once

#include "platform/tls_common.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

struct TlsFacts {
  unsigned version = 0; ///< the protocol as on the wire: 0x0303 TLS 1.2, 0x0304 TLS 1.3
  std::string cipher;   ///< the cipher suite, or the cipher, in the library's words
  std::vector<CertificateName> names; ///< the certificate's names (subjectAltName, else its CN)
  std::string issuer;                 ///< its issuer, most specific part first (RFC 4514)
  std::int64_t expires = 0;           ///< its notAfter, in seconds since 1970-01-01 UTC
};

/// "TLSv1.2" or "TLSv1.3"; any other version as "TLS 0xXXXX".
std::string protocol_name(unsigned version);

/// The seconds since 1970-01-01 00:00:00 UTC of a time of the proleptic
/// Gregorian calendar, in UTC (month 1 to 12, day 1 to 31).
std::int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second);

/// "YYYY-MM-DD (N days left)": the UTC date of `expires` and the whole days
/// from `now` until then ("1 day left"; none left once it has passed).
std::string expiry_text(std::int64_t expires, std::time_t now);

} // namespace platform
