#include "platform/tls_common.h"

#include "platform/net.h"
#include "text/ascii.h"

#include <algorithm>
#include <cstdio>

namespace platform {
namespace {

// TLS record content types and the values read from the first record
// (RFC 5246 6.2.1, 7.2, 7.4; RFC 8446 B.1).
constexpr unsigned char kHandshakeRecord = 22;
constexpr unsigned char kServerHello = 2;
constexpr unsigned char kProtocolVersionAlert = 70;
constexpr unsigned kTls12Version = 0x0303;

// The DER tags of a SEQUENCE and of the GeneralName choices read
// (RFC 5280 4.2.1.6: dNSName [2] and iPAddress [7], both IMPLICIT).
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kDnsName = 0x82;
constexpr unsigned char kIpAddress = 0x87;

// One DER element from the front of `der`, which then holds what follows
// it: its tag and contents; false when it does not parse (X.690 8.1).
bool take_element(std::string_view &der, unsigned char &tag, std::string_view &contents) {
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(der[at]); };
  // A tag number of 31 or more takes more bytes: no GeneralName has one.
  if (der.size() < 2 || (byte(0) & 0x1F) == 0x1F) return false;
  tag = byte(0);
  std::size_t length = byte(1);
  std::size_t at = 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || der.size() < at + count) return false;
    length = 0;
    for (const std::size_t end = at + count; at < end; ++at) length = length << 8 | byte(at);
  }
  if (der.size() - at < length) return false;
  contents = der.substr(at, length);
  der.remove_prefix(at + length);
  return true;
}

// The labels of a DNS name, its trailing dot dropped (RFC 6125 6.2.1 calls
// it absolute, the same name); none when a label is empty or the name
// holds a NUL, which no DNS name does (RFC 5280 4.2.1.6).
std::vector<std::string_view> labels(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty() || name.find('\0') != std::string_view::npos) return {};
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t dot = name.find('.', start);
    parts.push_back(name.substr(start, dot - start));
    if (parts.back().empty()) return {};
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

// RFC 6125 6.4.3 as the rule on the Web has it (CA/Browser Forum baseline
// requirements): "*" only as the whole leftmost label, standing for one
// label of the server's, and at least two labels after it; "*" anywhere
// else makes the name match nothing.
bool dns_name_matches(std::string_view server, std::string_view name) {
  const std::vector<std::string_view> wanted = labels(server);
  const std::vector<std::string_view> offered = labels(name);
  if (wanted.empty() || wanted.size() != offered.size()) return false;
  auto same = [](char a, char b) { return ascii::to_lower(a) == ascii::to_lower(b); };
  const bool wildcard = offered[0] == "*" && offered.size() >= 3;
  for (std::size_t at = wildcard ? 1 : 0; at < offered.size(); ++at) {
    const std::string_view a = wanted[at], b = offered[at];
    if (b.find('*') != std::string_view::npos ||
        !std::equal(a.begin(), a.end(), b.begin(), b.end(), same)) {
      return false;
    }
  }
  return true;
}

} // namespace

std::string status_code(long status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status) & 0xFFFFFFFFUL);
  return code;
}

std::string alert_received(std::string_view what) {
  return "the server sent a fatal alert (" + std::string(what) + ")";
}

std::string record_failed(std::string_view what) {
  return "a record failed (" + std::string(what) + ")";
}

std::string handshake_failed(std::string_view reason) {
  return "handshake failed (" + std::string(reason) + ")";
}

std::string handshake_failed(long status) { return handshake_failed(status_code(status)); }

Moved send_all(Stream &plain, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    Transfer sent = plain.send_some(data, milliseconds_left(deadline));
    if (sent.count < 0) return Moved::lost;
    // A send that took nothing once the time is up cannot wait any longer.
    if (sent.timed_out || (sent.count == 0 && milliseconds_left(deadline) == 0)) {
      return Moved::timed_out;
    }
    data.remove_prefix(static_cast<std::size_t>(sent.count));
  }
  return Moved::done;
}

ServerStart classify_server_start(std::string_view first_bytes) {
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(first_bytes[at]); };
  if (first_bytes.empty()) return ServerStart::tls;
  // A record begins with its content type, 20 to 24 (RFC 8446 5.1), never
  // with a printable character: a server that begins so speaks in clear
  // text, as an SMTP server greets ("220 ...").
  if (byte(0) >= 0x20 && byte(0) < 0x7f) return ServerStart::clear_text;
  if (first_bytes.size() < 7) return ServerStart::tls;
  // To a client that offers TLS 1.2 and 1.3, a server of TLS 1.1 or older
  // answers protocol_version, in a record of version 1.2 like everyone's.
  // A server of TLS 1.3 alone answers the same to a client without it (Wine
  // 8, Windows 10, Windows Server 2019), and is then told of as older: it is
  // the rarer.
  if (byte(0) == kAlertRecord && byte(6) == kProtocolVersionAlert) {
    return ServerStart::old_protocol;
  }
  if (byte(0) == kHandshakeRecord && first_bytes.size() >= 11 && byte(5) == kServerHello) {
    const auto hello_version = static_cast<unsigned>(byte(9) << 8 | byte(10));
    return hello_version < kTls12Version ? ServerStart::old_protocol : ServerStart::tls;
  }
  return ServerStart::tls;
}

std::optional<std::string> ip_literal_address(const std::string &server) {
  std::string text = server;
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  std::optional<std::string> address = address_bytes(text, 4);
  return address ? address : address_bytes(text, 16);
}

std::vector<CertificateName> alternative_names(std::string_view der) {
  unsigned char tag = 0;
  std::string_view entries;
  if (!take_element(der, tag, entries) || tag != kSequence || !der.empty()) return {};
  std::vector<CertificateName> names;
  while (!entries.empty()) {
    std::string_view value;
    if (!take_element(entries, tag, value)) return {};
    if (tag == kDnsName) names.push_back({false, std::string(value)});
    if (tag == kIpAddress && (value.size() == 4 || value.size() == 16)) {
      names.push_back({true, std::string(value)});
    }
  }
  return names;
}

bool name_matches(const std::string &server, const std::vector<CertificateName> &names) {
  // An address with a trailing dot is still no host name.
  const bool absolute = !server.empty() && server.back() == '.';
  const std::optional<std::string> address =
      ip_literal_address(absolute ? server.substr(0, server.size() - 1) : server);
  return std::any_of(names.begin(), names.end(), [&](const CertificateName &name) {
    if (address) return name.is_address && name.bytes == *address;
    return !name.is_address && dns_name_matches(server, name.bytes);
  });
}

std::string names_text(const std::vector<CertificateName> &names) {
  std::string text;
  for (const CertificateName &name : names) {
    if (&name != &names.front()) text += ", ";
    if (name.is_address) {
      text += address_text(name.bytes);
      continue;
    }
    for (char c : name.bytes) text += c > ' ' && c <= '~' ? c : '?';
  }
  return text;
}

} // namespace platform
