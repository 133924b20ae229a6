// The envelope form of an address text: it begins with "<"; when the text
// holds an "@" it is the token around the first "@" (tokens split at blank,
// CR and LF), bracketed unless it begins with "<", so it holds no blank, CR
// or LF; otherwise the whole text, bracketed the same way. Text after the
// chosen token never changes it, and the form of a form is itself.
#include "fuzz_support.h"
#include "intake/address.h"

#include <string>

namespace {

using fuzz::require;

constexpr std::string_view kSeparators = " \r\n";

std::string bracketed(std::string_view text) {
  if (!text.empty() && text.front() == '<') return std::string(text);
  return "<" + std::string(text) + ">";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  const std::string form = intake::envelope_address(text);
  require(!form.empty() && form.front() == '<', "the form begins with <");

  const std::size_t at = text.find('@');
  if (at == std::string_view::npos) {
    require(form == bracketed(text), "without an @ the whole text, bracketed");
    return 0;
  }
  require(form.find_first_of(kSeparators) == std::string::npos, "no blank, CR or LF");
  require(form.find('@') != std::string::npos, "the form holds the @");
  std::size_t start = text.find_last_of(kSeparators, at);
  start = start == std::string_view::npos ? 0 : start + 1;
  std::size_t end = text.find_first_of(kSeparators, at);
  if (end == std::string_view::npos) end = text.size();
  require(form == bracketed(text.substr(start, end - start)), "the token of the first @");

  // What follows the chosen token is never looked at.
  std::string longer(text.substr(0, end));
  longer += " other@example.org\r\n";
  require(intake::envelope_address(longer) == form, "text after the token changes nothing");
  require(intake::envelope_address(form) == form, "a form is its own form");
  return 0;
}
