#include "intake/recipients.h"

namespace intake {

bool add_recipient(RecipientList &list, std::string address) {
  if (list.entries.size() >= kMaxRecipients) return false;
  list.entries.push_back(std::move(address));
  return true;
}

std::string in_angle_brackets(std::string_view text) {
  if (!text.empty() && text.front() == '<') return std::string(text);
  std::string bracketed;
  bracketed.reserve(text.size() + 2);
  bracketed += '<';
  bracketed += text;
  bracketed += '>';
  return bracketed;
}

std::string join_recipients(const RecipientList &list) {
  std::string joined;
  for (const std::string &entry : list.entries) {
    if (!joined.empty()) joined += ',';
    joined += entry;
  }
  return joined;
}

} // namespace intake
