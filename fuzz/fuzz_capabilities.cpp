// The EHLO reply's extensions, whatever the reply:
// - every mechanism is a non-empty upper-case word without a blank;
// - the same reply in other letter case, or with LF for CR LF, offers the
//   same;
// - the mechanism chosen to log in with is one the server offered.
//
// Input: the reply's text.
#include "fuzz_support.h"
#include "smtp/auth.h"
#include "smtp/capabilities.h"
#include "text/ascii.h"

#include <algorithm>
#include <string>

namespace {

using fuzz::require;

smtp::Capabilities offered_by(std::string text) {
  smtp::Reply reply;
  reply.text = std::move(text);
  return smtp::parse_capabilities(reply);
}

bool same(const smtp::Capabilities &a, const smtp::Capabilities &b) {
  return a.starttls == b.starttls && a.eight_bit_mime == b.eight_bit_mime && a.auth == b.auth;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(fuzz::as_text(data, size));
  const smtp::Capabilities offered = offered_by(text);
  for (const std::string &mechanism : offered.auth) {
    require(!mechanism.empty(), "a mechanism is never empty");
    require(std::none_of(mechanism.begin(), mechanism.end(),
                         [](char c) { return c == ' ' || (c >= 'a' && c <= 'z'); }),
            "a mechanism is one upper-case word");
  }
  std::string lower = text;
  for (char &c : lower) c = ascii::to_lower(c);
  require(same(offered_by(lower), offered), "letter case changes nothing offered");
  std::string bare_lf;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) bare_lf += text[i];
  }
  require(same(offered_by(bare_lf), offered), "LF alone ends a line as CR LF does");
  for (smtp::AuthMethod asked : {smtp::AuthMethod::offered, smtp::AuthMethod::plain,
                                 smtp::AuthMethod::login, smtp::AuthMethod::xoauth2}) {
    if (auto chosen = smtp::chosen_mechanism(asked, offered)) {
      const char *name = *chosen == smtp::AuthMethod::plain   ? "PLAIN"
                         : *chosen == smtp::AuthMethod::login ? "LOGIN"
                                                              : "XOAUTH2";
      require(std::count(offered.auth.begin(), offered.auth.end(), name) > 0,
              "the mechanism chosen is offered");
    }
  }
  return 0;
}
