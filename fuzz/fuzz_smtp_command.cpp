// The commands of the "-bs" session: the verb does not depend on its letter
// case; a path is an address in angle brackets holding nothing that could
// end a command or a header field, no longer than an envelope address, and
// read again it is itself. And the message text: what a client sends after
// DATA, transparent as the wire form of a spool file makes it, reads back as
// that spool file, however it is cut.
//
// Input: a command line, then optionally a NUL byte, piece sizes, a NUL byte
// and spool text.
#include "fuzz_support.h"
#include "intake/address.h"
#include "smtp/body.h"
#include "smtp_server/command.h"
#include "smtp_server/data_text.h"

#include <algorithm>
#include <string>

namespace {

using fuzz::require;
using smtp_server::Verb;

std::string upper_cased(std::string_view text) {
  std::string out(text);
  for (char &c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

void check_path(std::string_view argument, std::string_view keyword, bool empty_allowed) {
  const std::optional<std::string> path = smtp_server::parse_path(argument, keyword, empty_allowed);
  if (!path) return;
  require(path->size() >= 2 && path->front() == '<' && path->back() == '>', "a path is bracketed");
  require(path->size() <= intake::kMaxEnvelopeForm, "no longer than an envelope address");
  require(empty_allowed || path->size() > 2, "<> only where allowed");
  require(std::none_of(path->begin() + 1, path->end() - 1,
                       [](char c) {
                         const auto byte = static_cast<unsigned char>(c);
                         return byte <= 0x20 || byte == 0x7F || c == '<' || c == '>';
                       }),
          "nothing inside that ends a command or a field");
  require(smtp_server::parse_path(std::string(keyword) + *path, keyword, empty_allowed) == path,
          "a path read again is itself");
}

void check_command(std::string_view line) {
  const smtp_server::Command command = smtp_server::parse_command(line);
  const std::string upper = upper_cased(line);
  require(smtp_server::parse_command(upper).verb == command.verb, "verbs in any letter case");
  if (command.verb == Verb::mail) check_path(command.argument, "FROM:", true);
  if (command.verb == Verb::rcpt) check_path(command.argument, "TO:", false);
}

void check_text(std::string_view sizes, std::string_view spool) {
  // A spool file holds LF-ended lines without CR, here under the 998-byte
  // limit that would split them.
  std::string lines;
  std::size_t column = 0;
  for (char c : spool) {
    if (c == '\r' || (c != '\n' && column == smtp::kMaxTextLine)) continue;
    lines += c;
    column = c == '\n' ? 0 : column + 1;
  }
  if (!lines.empty() && lines.back() != '\n') lines += '\n';
  smtp::WireState wire_state;
  std::string wire;
  smtp::append_wire_form(lines, wire_state, wire);
  wire += ".\r\nQUIT\r\n";

  smtp_server::DataText state;
  std::string text;
  std::size_t used = 0;
  for (std::string_view piece : fuzz::cut(wire, sizes)) {
    if (state.ended) break;
    used += smtp_server::take_data_text(piece, state, text);
  }
  require(state.ended, "the text ends at its dot line");
  require(used == wire.size() - 6, "nothing after the dot line is taken");
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  require(text == lines, "the text reads back as the spool file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input = fuzz::as_text(data, size);
  const std::size_t first = input.find('\0');
  check_command(input.substr(0, first));
  if (first == std::string_view::npos) return 0;
  const std::string_view rest = input.substr(first + 1);
  const std::size_t second = rest.find('\0');
  if (second == std::string_view::npos) return 0;
  check_text(rest.substr(0, second), rest.substr(second + 1));
  return 0;
}
