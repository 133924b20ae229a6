// What both TLS backends read, say and do the same way, apart from either
// library: the failures in words, whether the server is named by its
// address, what the server's first bytes of a handshake tell of it, the
// send of a library's bytes over the plain stream, and whether the server's
// certificate bears its name.
#pragma once

#include "platform/deadline.h"
#include "platform/stream.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The failures as a user reads them after "TLS with HOST failed: ", word for
// word on both platforms.
inline constexpr const char *kNotTrusted = "certificate not trusted";
inline constexpr const char *kExpired = "certificate expired";
inline constexpr const char *kNotYetValid = "certificate not yet valid";
inline constexpr const char *kCertificateIsFor = "certificate is for "; ///< then its names
inline constexpr const char *kOldProtocol = "server offers only TLS 1.1 or older";
inline constexpr const char *kClearText = "server answered in clear text, not TLS";
inline constexpr const char *kUnreadableCaFile = "cannot read CA file "; ///< then its path
inline constexpr const char *kConnectionLost = "connection lost during the handshake";
inline constexpr const char *kNoAnswer = "no answer during the handshake";

// Why a TLS stream broke after its handshake, after "TLS with HOST failed: ",
// word for word on both platforms.
inline constexpr const char *kRenegotiationAsked = "the server asked to renegotiate";
inline constexpr const char *kRecordFailed = "a record failed its check";
inline constexpr const char *kClosedWithoutNotify = "the connection closed without close_notify";
inline constexpr const char *kStreamLost = "the connection was lost";

/// "0xXXXXXXXX": a status code's low 32 bits in eight hexadecimal digits.
std::string status_code(long status);

/// "the server sent a fatal alert (WHAT)": the alert's name, or the
/// library's status code where it names none.
std::string alert_received(std::string_view what);

/// "a record failed (WHAT)": any other fault of the record layer, in the
/// library's words or as its status code.
std::string record_failed(std::string_view what);

/// "handshake failed (REASON)": a failure the library names in its own words.
std::string handshake_failed(std::string_view reason);

/// "handshake failed (0xXXXXXXXX)": a failure the library gives only as a
/// status code, its low 32 bits in eight hexadecimal digits.
std::string handshake_failed(long status);

/// How a transfer over the plain stream beneath TLS ended.
enum class Moved {
  done,
  timed_out,
  lost,   ///< the stream failed
  closed, ///< the peer closed it (a receive's end)
};

/// Sends all of `data` over `plain` before `deadline`: lost when the stream
/// failed, timed out when time ran out first (with part of it sent, maybe).
Moved send_all(Stream &plain, std::string_view data, Clock::time_point deadline);

/// The content type of an alert record (RFC 5246 6.2.1).
inline constexpr unsigned char kAlertRecord = 21;

/// What the first bytes a server sent in a handshake tell of it.
enum class ServerStart {
  tls,          ///< a TLS record, or too few bytes to tell
  clear_text,   ///< no TLS record but text, like the "220 " of an SMTP greeting
  old_protocol, ///< a ServerHello of TLS 1.1 or older, or a protocol_version alert
};

/// Classifies `first_bytes`, the server's first reply as received.
ServerStart classify_server_start(std::string_view first_bytes);

/// The address of an IPv4 or IPv6 literal (an IPv6 one in brackets or
/// without), as its 4 or 16 bytes in network order; nothing for a host name.
std::optional<std::string> ip_literal_address(const std::string &server);

/// A name the server's certificate bears: a subjectAltName dNSName or
/// iPAddress (RFC 5280 4.2.1.6), or its subject's common name.
struct CertificateName {
  bool is_address = false; ///< an iPAddress: `bytes` are its 4 or 16 bytes in network order
  std::string bytes;       ///< else the name as the certificate holds it, a NUL kept
};

/// The dNSName and iPAddress entries (the latter of 4 or 16 bytes) of a
/// subjectAltName extension's value, `der`, in their order; none when it
/// does not parse as a SEQUENCE of GeneralName.
std::vector<CertificateName> alternative_names(std::string_view der);

/// Whether `server` is one of `names` (RFC 6125 6.4). An IP literal
/// (ip_literal_address) matches only an equal address; a host name only a
/// DNS name equal to it in ASCII letter case, a trailing dot on either
/// ignored, or one whose leftmost label is "*" alone and stands for exactly
/// one label of the server's before at least two labels equal to the rest
/// (RFC 6125 6.4.3: no partial wildcards, none over a single-label suffix
/// such as "*.com"). A name with a NUL byte or an empty label matches
/// nothing.
bool name_matches(const std::string &server, const std::vector<CertificateName> &names);

/// The names with ", " between them, as a user compares them with the
/// server's: addresses as text, names with every byte outside "!" to "~"
/// as "?".
std::string names_text(const std::vector<CertificateName> &names);

} // namespace platform
