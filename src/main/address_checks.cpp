#include "main/address_checks.h"

#include "intake/address.h"
#include "text/ascii.h"

#include <algorithm>

namespace invocation {
namespace {

// The limits of the fixed buffers these values always had (1000 bytes for a
// sender, 2000 for a recipient argument, terminators included), kept on
// purpose: an address beyond them is refused, never cut.
constexpr std::size_t kMaxSender = 999;
constexpr std::size_t kMaxRecipientArgument = 1999;

std::optional<std::string_view> refusal(std::string_view address, std::size_t max_length) {
  if (address.find_first_of("\r\n") != std::string_view::npos) return kLineBreak;
  if (address.size() > max_length ||
      intake::envelope_address(address).size() > intake::kMaxEnvelopeForm) {
    return kTooLong;
  }
  return std::nullopt;
}

// Any control byte, not only CR and LF: a tab or an escape has no place in a
// display name either (RFC 5322 3.2.3, 3.2.4).
bool has_control_byte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), ascii::is_control);
}

} // namespace

std::optional<std::string_view> refusal_of_addresses(const RunSettings &settings,
                                                     const intake::RecipientList &recipients) {
  if (auto found = refusal(settings.sender, kMaxSender)) return found;
  if (settings.envelope_sender_override) {
    if (auto found = refusal(*settings.envelope_sender_override, kMaxSender)) return found;
  }
  for (const std::string &entry : recipients.entries) {
    if (auto found = refusal(entry, kMaxRecipientArgument)) return found;
  }
  if (has_control_byte(settings.full_name)) return kFullNameLineBreak;
  return std::nullopt;
}

} // namespace invocation
