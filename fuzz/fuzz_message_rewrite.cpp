// Any input through the header rewriting must give a well-formed spool file:
// no carriage return, header lines within 998 characters, exactly one empty
// line ending the header, and recipients in envelope form.
#include "intake/header_fold.h"
#include "intake/message_rewrite.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void check_spool(std::string_view spool) {
  require(spool.find('\r') == std::string_view::npos);
  std::size_t header_end = spool.find("\n\n");
  if (spool.front() == '\n') header_end = 0;
  require(header_end != std::string_view::npos);
  std::string_view header = spool.substr(0, header_end);
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find('\n', start);
    if (end == std::string_view::npos) end = header.size();
    require(end - start <= intake::kMaxHeaderLine);
    start = end + 1;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  intake::RewriteOptions options;
  options.extract_recipients = (data[0] & 1) != 0;
  options.ignore_dot = (data[0] & 2) != 0;
  options.from_value = "<sender@example.org>";
  options.to_value = (data[0] & 4) != 0 ? std::string(1200, 'x') + "," + std::string(900, 'y') : "";
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  intake::RewriteState state;
  intake::RecipientList list;
  intake::RewriteOutput out;
  std::string spool;
  std::size_t start = 0;
  bool ended = false;
  while (!ended && start < input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    std::string line(input.substr(start, end - start));
    ended = intake::rewrite_line(line, options, state, list, out) ==
            intake::LineVerdict::end_of_message;
    start = end + 1;
  }
  intake::finish_message(options, state, out);
  check_spool(out.spool);
  for (const std::string& entry : list.entries) require(!entry.empty() && entry.front() == '<');
  return 0;
}
