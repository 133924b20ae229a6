#include "smtp/auth.h"

#include <algorithm>

namespace smtp {
namespace {

constexpr std::string_view kHidden = "<hidden>\r\n";

bool offers(const Capabilities &offered, std::string_view mechanism) {
  return std::find(offered.auth.begin(), offered.auth.end(), mechanism) != offered.auth.end();
}

// A reply to AUTH that is neither a challenge nor the success ends the login.
Outcome as_refusal(Outcome outcome) {
  if (outcome.fault == Fault::none) outcome.fault = Fault::login_refused;
  return outcome;
}

bool is(const Outcome &outcome, int code) {
  return outcome.fault == Fault::none && outcome.reply.code == code;
}

// RFC 4954 4: 334 asks for more, 235 says the client is in.
constexpr int kChallenge = 334;
constexpr int kLoggedIn = 235;
constexpr std::size_t kMaxCommandLine = 512;

Outcome answered(Outcome outcome) { return is(outcome, kLoggedIn) ? outcome : as_refusal(outcome); }

// RFC 4954 4: the initial response goes with AUTH only when the whole
// command fits in a line of RFC 5321 4.5.3.1.4's 512 octets; else it answers
// the server's 334 (a long access token).
Outcome authenticate(Client &client, const std::string &mechanism, const std::string &response) {
  const auto limit = client.limits.reply;
  const std::string line = "AUTH " + mechanism + " " + response + "\r\n";
  if (line.size() <= kMaxCommandLine) {
    return command(client, line, limit, "AUTH " + mechanism + " <hidden>\r\n");
  }
  Outcome step = command(client, "AUTH " + mechanism + "\r\n", limit);
  if (!is(step, kChallenge)) return step;
  return command(client, response + "\r\n", limit, kHidden);
}

} // namespace

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    std::uint32_t group = 0;
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
    for (std::size_t i = 0; i < 3; ++i) {
      group <<= 8;
      if (i < count) group |= static_cast<unsigned char>(bytes[at + i]);
    }
    for (std::size_t i = 0; i < 4; ++i) {
      encoded += i <= count ? kAlphabet[(group >> (18 - 6 * i)) & 0x3F] : '=';
    }
  }
  return encoded;
}

std::string_view mechanism_name(AuthMethod mechanism) {
  switch (mechanism) {
  case AuthMethod::offered:
    break;
  case AuthMethod::plain:
    return "PLAIN";
  case AuthMethod::login:
    return "LOGIN";
  case AuthMethod::xoauth2:
    return "XOAUTH2";
  }
  return {};
}

std::optional<AuthMethod> chosen_mechanism(AuthMethod asked, const Capabilities &offered) {
  if (asked != AuthMethod::offered) {
    return offers(offered, mechanism_name(asked)) ? std::optional(asked) : std::nullopt;
  }
  for (AuthMethod usual : {AuthMethod::plain, AuthMethod::login}) {
    if (offers(offered, mechanism_name(usual))) return usual;
  }
  return std::nullopt;
}

Outcome log_in(Client &client, AuthMethod mechanism, const std::string &user,
               const std::string &secret) {
  const auto limit = client.limits.reply;
  // RFC 4616 2: authorization identity (none), user, password, NUL-separated.
  const std::string plain = base64(std::string(1, '\0') + user + '\0' + secret);
  const std::string xoauth2 =
      base64("user=" + user + "\x01" + "auth=Bearer " + secret + "\x01\x01");
  // A server may quote the client's line in its reply: from now on no reply
  // shows any form in which the secret crosses the connection. A renewed
  // token adds its forms to those of the refused one, which a later reply
  // may still quote.
  for (std::string form : {plain, xoauth2, base64(secret), base64(user), secret}) {
    if (std::ranges::find(client.secrets, form) == client.secrets.end()) {
      client.secrets.push_back(std::move(form));
    }
  }
  switch (mechanism) {
  case AuthMethod::offered:
  case AuthMethod::plain:
    return answered(authenticate(client, "PLAIN", plain));
  case AuthMethod::login: {
    Outcome step = command(client, "AUTH LOGIN\r\n", limit);
    for (const std::string *answer : {&user, &secret}) {
      if (!is(step, kChallenge)) return as_refusal(step);
      step = command(client, base64(*answer) + "\r\n", limit, kHidden);
    }
    return answered(step);
  }
  case AuthMethod::xoauth2: {
    Outcome step = authenticate(client, "XOAUTH2", xoauth2);
    // A refused token comes as a challenge holding the error; the empty
    // answer asks for the final reply.
    if (is(step, kChallenge)) step = command(client, "\r\n", limit);
    return answered(step);
  }
  }
  return {};
}

} // namespace smtp
