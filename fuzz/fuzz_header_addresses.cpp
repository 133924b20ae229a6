// The header address-list scanner: every candidate begins with "<", holds no
// separator (blank, ",", CR, LF), holds an "@" whenever the text does, and is
// one of the text's tokens, in order; cutting the text at a "," between two
// parts scans each part on its own.
//
// Input: a first byte choosing where to cut, then the header text.
#include "fuzz_support.h"
#include "intake/address.h"

#include <string>
#include <vector>

namespace {

using fuzz::require;

constexpr std::string_view kSeparators = " ,\r\n";

bool has_at(std::string_view text) { return text.find('@') != std::string_view::npos; }

// `token` stands in `text` at or after `from` as a whole token; returns just
// past it, or npos.
std::size_t find_token(std::string_view text, std::string_view token, std::size_t from) {
  for (std::size_t at = text.find(token, from); at != std::string_view::npos;
       at = text.find(token, at + 1)) {
    const std::size_t end = at + token.size();
    const bool starts = at == 0 || kSeparators.find(text[at - 1]) != std::string_view::npos ||
                        text.find_first_not_of(" \t") == at;
    const bool ends = end == text.size() || kSeparators.find(text[end]) != std::string_view::npos;
    if (starts && ends) return end;
  }
  return std::string_view::npos;
}

void check_candidates(std::string_view text, const std::vector<std::string> &candidates) {
  std::size_t from = 0;
  for (const std::string &candidate : candidates) {
    require(!candidate.empty() && candidate.front() == '<', "a candidate begins with <");
    require(candidate.find_first_of(kSeparators) == std::string::npos,
            "a candidate holds no separator");
    require(!has_at(text) || has_at(candidate), "a candidate holds an @ when the text does");
    // Either the token itself (it began with "<") or the token bracketed.
    std::size_t end = find_token(text, candidate, from);
    if (candidate.size() >= 2 && candidate.back() == '>') {
      std::string_view inner = std::string_view(candidate).substr(1, candidate.size() - 2);
      std::size_t inner_end = inner.empty() || inner.front() == '<' ? std::string_view::npos
                                                                    : find_token(text, inner, from);
      if (end == std::string_view::npos || inner_end < end) end = inner_end;
    }
    require(end != std::string_view::npos, "a candidate is a token of the text, in order");
    from = end;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text = fuzz::as_text(data + 1, size - 1);
  const std::vector<std::string> candidates = intake::header_addresses(text);
  check_candidates(text, candidates);

  // Two parts joined by "," scan as the parts do, when both or neither hold
  // an "@" and the second does not begin with a tab, which a part of its own
  // would lose (only the text's leading blanks and tabs are skipped).
  const std::size_t cut = text.empty() ? 0 : data[0] % (text.size() + 1);
  const std::string_view first = text.substr(0, cut);
  const std::string_view second = text.substr(cut);
  const std::size_t lead = second.find_first_not_of(' ');
  if (has_at(first) == has_at(second) && (lead == std::string_view::npos || second[lead] != '\t')) {
    std::vector<std::string> parts = intake::header_addresses(first);
    for (std::string &candidate : intake::header_addresses(second)) parts.push_back(candidate);
    std::string joined(first);
    joined += ',';
    joined += second;
    require(intake::header_addresses(joined) == parts, "a list joined by , scans as its parts");
  }
  return 0;
}
