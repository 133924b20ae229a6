// The envelope recipients of the one message a run delivers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace intake {

/// An address is appended only while the list holds at most 30000 entries,
/// so the list holds at most 30001: one more than the round number, kept on
/// purpose since callers that split their lists rely on the exact cap.
inline constexpr std::size_t kMaxRecipients = 30001;

inline constexpr const char *kArgumentListFull = "FATAL ERROR, TOO MANY RECIPIENTS\n";
inline constexpr const char *kHeaderListFull = "fatal error, too many recipients\n";

/// In list order; every entry begins with "<". Only ever appended to.
struct RecipientList {
  std::vector<std::string> entries;
};

/// Appends `address`; false, appending nothing, when the list is full.
bool add_recipient(RecipientList &list, std::string address);

/// `text` itself when it begins with "<", else "<text>".
std::string in_angle_brackets(std::string_view text);

/// The To value of the synthesized To line: the entries joined with ",".
std::string join_recipients(const RecipientList &list);

} // namespace intake
