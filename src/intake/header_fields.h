// The header fields the intake treats specially, as one table.
#pragma once

#include <cstddef>
#include <string_view>

namespace intake {

struct HeaderField {
  std::string_view name;
  bool is_from;        ///< the message has its own From line
  bool is_to;          ///< the message has its own To line
  bool has_recipients; ///< in header-extraction mode its addresses are recipients
  bool is_removed;     ///< never written: a blind copy stays blind
};

struct FieldMatch {
  const HeaderField *field = nullptr; ///< nullptr: an ordinary header line
  std::size_t value_start = 0;        ///< just past the colon
};

/// The field of a header line whose name, before its colon, is one of the
/// table's, in any letter case; "Resent-To:" or "To-Do:" match nothing.
FieldMatch match_header_field(std::string_view line);

} // namespace intake
