#include "intake/sender.h"

#include "intake/address.h"

namespace intake {
namespace {

// USERNAME is cut to 100 characters, as it always was: the invocation log and
// the senders of existing callers show it so.
constexpr std::size_t kMaxDefaultSender = 100;

} // namespace

std::string default_sender(const char *username) {
  return std::string(username != nullptr ? username : "windows").substr(0, kMaxDefaultSender);
}

std::string completed_sender(std::string sender, const std::function<std::string()> &host_name,
                             const std::function<std::string()> &configured_domain) {
  if (sender.find('@') != std::string::npos) return sender;
  sender += '@';
  if (host_name().find('.') != std::string::npos) return sender + host_name();
  std::string domain = configured_domain();
  return sender + (domain.empty() ? host_name() : domain);
}

std::string from_value(const std::string &sender) { return envelope_address(sender); }

std::string envelope_sender(const std::string &sender,
                            const std::optional<std::string> &override_) {
  return envelope_address(override_ ? *override_ : sender);
}

std::string helo_argument(const std::string &sender) {
  std::size_t at = sender.find('@');
  if (at == std::string::npos) return {};
  std::size_t start = at + 1;
  return sender.substr(start, sender.find('>', start) - start);
}

} // namespace intake
