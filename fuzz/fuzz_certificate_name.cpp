// The server's name against a certificate's names (RFC 6125 6.4), whatever
// both are:
// - a name with a NUL byte never matches, nor does a server's with one;
// - a match holds as many labels as the server's name, a trailing dot
//   aside: a wildcard never covers fewer labels or more;
// - an IP literal never matches a DNS name;
// - ASCII letter case and a trailing dot on the server's name change
//   nothing;
// - a subjectAltName value parsed from any bytes gives addresses of 4 or 16
//   bytes only, and the server matches it when it matches one of its names.
//
// Input: the server's name, LF, then bytes read both as one DNS name and as
// a subjectAltName extension's DER.
#include "fuzz_support.h"
#include "platform/tls_common.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using fuzz::require;
using platform::CertificateName;

std::size_t label_count(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return static_cast<std::size_t>(std::count(name.begin(), name.end(), '.')) + 1;
}

std::string upper(std::string text) {
  for (char &c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const std::size_t end = input.find('\n');
  if (end == std::string_view::npos) return 0;
  const std::string server(input.substr(0, end));
  const std::string bytes(input.substr(end + 1));

  const std::vector<CertificateName> one = {{false, bytes}};
  const bool matches = platform::name_matches(server, one);
  if (bytes.find('\0') != std::string::npos || server.find('\0') != std::string::npos) {
    require(!matches, "a name with a NUL never matches");
  }
  if (matches) {
    require(label_count(server) == label_count(bytes), "a match has the server's labels");
    require(!platform::ip_literal_address(server), "an IP literal matches no DNS name");
  }
  require(platform::name_matches(upper(server), one) == matches, "letter case changes nothing");
  if (server.empty() || server.back() != '.') {
    require(platform::name_matches(server + ".", one) == matches, "a trailing dot changes nothing");
  }

  const std::vector<CertificateName> parsed = platform::alternative_names(bytes);
  bool any = false;
  for (const CertificateName &name : parsed) {
    require(!name.is_address || name.bytes.size() == 4 || name.bytes.size() == 16,
            "an address has 4 or 16 bytes");
    any = any || platform::name_matches(server, {name});
  }
  require(platform::name_matches(server, parsed) == any, "a match is a match of one name");
  return 0;
}
