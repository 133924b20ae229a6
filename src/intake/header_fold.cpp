#include "intake/header_fold.h"

namespace intake {
namespace {

struct Break {
  std::size_t at; ///< length of the first line
  bool add_blank; ///< the continuation needs a blank of its own
};

// The first character that must stay on the first line: the first one that
// is not a blank, and on a field's own line the first of its value, so that
// no line is made of blanks alone or of a field name alone.
std::size_t first_kept(std::string_view window) {
  std::size_t from = 0;
  if (window.front() != ' ' && window.front() != '\t') {
    std::size_t colon = window.find(':');
    if (colon != std::string_view::npos) from = colon + 1;
  }
  return window.find_first_not_of(" \t", from);
}

// Where to break a line longer than the limit, judged on its first 999
// characters.
Break find_break(std::string_view window) {
  std::size_t kept = first_kept(window);
  std::size_t blank = window.find_last_of(" \t", kMaxHeaderLine);
  if (kept != std::string_view::npos && blank != std::string_view::npos && blank > kept) {
    return {blank, false};
  }
  std::size_t comma = window.find_last_of(',', kMaxHeaderLine - 1);
  if (comma != std::string_view::npos) return {comma + 1, true};
  return {kMaxHeaderLine, true};
}

} // namespace

void append_folded(std::string_view line, std::string &out) {
  bool needs_blank = false;
  // The line still to write is the blank (when needed) followed by `line`.
  while (line.size() + (needs_blank ? 1 : 0) > kMaxHeaderLine) {
    std::string window = needs_blank ? " " : "";
    window.append(line.substr(0, kMaxHeaderLine + 1));
    Break cut = find_break(window);
    out.append(window, 0, cut.at);
    out += '\n';
    line.remove_prefix(cut.at - (needs_blank ? 1 : 0));
    needs_blank = cut.add_blank;
  }
  if (needs_blank) out += ' ';
  out.append(line);
  out += '\n';
}

} // namespace intake
