#include "intake/header_fields.h"

#include "text/ascii.h"

namespace intake {
namespace {

constexpr HeaderField kFields[] = {
    // name    from   to     recipients removed
    {"From", true, false, false, false},
    {"To", false, true, true, false},
    {"Cc", false, false, true, false},
    {"Bcc", false, false, true, true},
};

bool same_letters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii::to_lower(a[i]) != ascii::to_lower(b[i])) return false;
  }
  return true;
}

} // namespace

FieldMatch match_header_field(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  for (const HeaderField &field : kFields) {
    if (same_letters(line.substr(0, colon), field.name)) return {&field, colon + 1};
  }
  return {};
}

} // namespace intake
