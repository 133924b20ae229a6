#include "intake/copy_message.h"

#include "intake/line_reader.h"
#include "log/debug_log.h"

namespace intake {
namespace {

// Passes on what one step produced; false when the spool file refuses it.
bool pass_on(RewriteOutput &out, std::FILE *spool) {
  if (!out.messages.empty()) std::fputs(out.messages.c_str(), stdout);
  if (!out.debug.empty()) logs::debug_log(out.debug);
  bool written = std::fwrite(out.spool.data(), 1, out.spool.size(), spool) == out.spool.size();
  out.spool.clear();
  out.messages.clear();
  out.debug.clear();
  return written;
}

} // namespace

CopyOutcome copy_message(std::FILE *input, std::FILE *spool, const RewriteOptions &options,
                         RecipientList &list) {
  LineReader reader{input};
  RewriteState state;
  RewriteOutput out;
  std::string line;
  bool written = true;
  while (written && read_line(reader, line)) {
    LineVerdict verdict = rewrite_line(line, options, state, list, out);
    written = pass_on(out, spool);
    if (verdict == LineVerdict::end_of_message) break;
  }
  if (reader.failed) {
    std::fclose(spool);
    return CopyOutcome::read_failed;
  }
  if (written) {
    finish_message(options, state, out);
    written = pass_on(out, spool);
  }
  written = std::fflush(spool) == 0 && written;
  written = std::fclose(spool) == 0 && written;
  return written ? CopyOutcome::copied : CopyOutcome::write_failed;
}

} // namespace intake
