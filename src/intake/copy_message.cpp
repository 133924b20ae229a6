#include "intake/copy_message.h"

#include "log/debug_log.h"
#include "log/report.h"

#include <algorithm>

namespace intake {
namespace {

// Passes on what one step produced; false when the spool file refuses it.
bool pass_on(RewriteOutput &out, std::FILE *spool, bool *eight_bit) {
  if (eight_bit != nullptr && !*eight_bit) {
    *eight_bit = std::any_of(out.spool.begin(), out.spool.end(),
                             [](char c) { return static_cast<unsigned char>(c) > 127; });
  }
  if (!out.messages.empty()) logs::remark(out.messages);
  if (!out.debug.empty()) logs::debug_log(out.debug);
  bool written = std::fwrite(out.spool.data(), 1, out.spool.size(), spool) == out.spool.size();
  out.spool.clear();
  out.messages.clear();
  out.debug.clear();
  return written;
}

} // namespace

CopyOutcome copy_message(io::BlockReader &input, std::FILE *spool, const RewriteOptions &options,
                         RecipientList &list, bool *eight_bit) {
  RewriteState state;
  RewriteOutput out;
  for (std::string_view bytes = io::unconsumed(input); !bytes.empty();
       bytes = io::unconsumed(input)) {
    Taken taken = take_input(bytes, options, state, list, out);
    io::consume(input, taken.consumed);
    if (!pass_on(out, spool, eight_bit)) return CopyOutcome::write_failed;
    if (taken.verdict == Verdict::header_line_too_long) return CopyOutcome::header_line_too_long;
    if (taken.verdict == Verdict::end_of_message) break;
  }
  if (input.error != 0) return CopyOutcome::read_failed;
  finish_message(options, state, list, out);
  if (!pass_on(out, spool, eight_bit) || std::fflush(spool) != 0) return CopyOutcome::write_failed;
  return std::fseek(spool, 0, SEEK_SET) == 0 ? CopyOutcome::copied : CopyOutcome::write_failed;
}

} // namespace intake
