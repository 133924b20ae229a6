#include "intake/from_line.h"

namespace intake {
namespace {

// RFC 5322 3.2.3: the characters an atom may hold besides letters and digits.
constexpr std::string_view kAtextSpecials = "!#$%&'*+-/=?^_`{|}~";

bool is_atext(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         kAtextSpecials.find(c) != std::string_view::npos;
}

// A phrase of atoms (RFC 5322 3.2.5) needs at least one atom; a name of
// blanks alone is quoted like any other that is not a phrase.
bool is_phrase_of_atoms(std::string_view name) {
  bool has_atom = false;
  for (char c : name) {
    if (is_atext(c)) {
      has_atom = true;
    } else if (c != ' ') {
      return false;
    }
  }
  return has_atom;
}

// RFC 5322 3.2.4: within a quoted string only `"` and `\` need a quoted-pair.
std::string quoted_string(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

// The first `count` characters of `name`: a UTF-8 sequence is never cut
// apart, which would leave a broken character in the header.
std::string_view first_characters(std::string_view name, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t started = 0; at < name.size(); ++at) {
    const bool starts_character = (static_cast<unsigned char>(name[at]) & 0xC0) != 0x80;
    if (starts_character && started++ == count) break;
  }
  return name.substr(0, at);
}

} // namespace

std::string named_from_value(std::string_view full_name, std::string_view envelope_form) {
  if (full_name.empty()) return std::string(envelope_form);
  std::string_view name = first_characters(full_name, kMaxFullName);
  std::string display = is_phrase_of_atoms(name) ? std::string(name) : quoted_string(name);
  return display + ' ' + std::string(envelope_form);
}

} // namespace intake
