// The whole intake of a message into memory, as the copy loop drives it:
// take_input over pieces of standard input until the message ends, then
// finish_message. Whatever the input and however it is cut:
// - the spool bytes, recipients, messages, debug text, verdict and bytes
//   consumed are those of the input taken whole;
// - the spool holds no CR, ends with LF, and its header (a From and a To
//   line, no Bcc line, every line at most 998 characters) is ended by the
//   first empty line;
// - without -i no spool line is a lone "."; the message ends just after the
//   first input line that is "." once its CRs are gone, and only there;
// - recipients come only with -t, in envelope form of at most 499 characters;
// - after an empty first line the whole input is body: its bytes without CR,
//   up to the "." line, ended by LF, or the empty-body marker;
// - a Bcc field put before the message changes nothing in the spool.
//
// Input: a byte of options (bit 0 -t, bit 1 -i, bit 2 debug, bits 3-4 the
// synthesized To value), two bytes of piece sizes, then the message.
#include "fuzz_support.h"
#include "intake/address.h"
#include "intake/header_fold.h"
#include "intake/message_rewrite.h"
#include "log/debug_log.h"

#include <string>
#include <vector>

namespace {

using fuzz::require;
using intake::Verdict;

struct Intake {
  std::string spool;
  std::string messages;
  std::string debug;
  std::vector<std::string> recipients;
  Verdict verdict = Verdict::more;
  std::size_t consumed = 0;
  bool operator==(const Intake &) const = default;
};

Intake take_in(std::string_view input, std::string_view sizes,
               const intake::RewriteOptions &options) {
  intake::RewriteState state;
  intake::RecipientList list;
  intake::RewriteOutput out;
  Intake result;
  for (std::string_view piece : fuzz::cut(input, sizes)) {
    intake::Taken taken = intake::take_input(piece, options, state, list, out);
    require(taken.consumed <= piece.size(), "no more consumed than given");
    result.consumed += taken.consumed;
    result.verdict = taken.verdict;
    if (taken.verdict != Verdict::more) break;
    require(taken.consumed == piece.size(), "every byte consumed while the message goes on");
  }
  if (result.verdict != Verdict::header_line_too_long) {
    intake::finish_message(options, state, list, out);
  }
  result.spool = std::move(out.spool);
  result.messages = std::move(out.messages);
  result.debug = std::move(out.debug);
  result.recipients = std::move(list.entries);
  return result;
}

std::string without_cr(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

// The lines of `text`, each without its LF; a last line without LF counts.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool is_field(std::string_view line, std::string_view name) {
  std::size_t colon = line.find(':');
  if (colon != name.size()) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    char c = line[i] >= 'A' && line[i] <= 'Z' ? static_cast<char>(line[i] - 'A' + 'a') : line[i];
    if (c != name[i]) return false;
  }
  return true;
}

void check_spool(const std::string &spool, const intake::RewriteOptions &options) {
  require(spool.find('\r') == std::string::npos, "no CR in the spool");
  require(!spool.empty() && spool.back() == '\n', "the spool ends with LF");
  const std::size_t header_end = spool.find("\n\n");
  require(header_end != std::string::npos, "an empty line ends the header");
  bool from = false, to = false;
  for (std::string_view line : lines_of(std::string_view(spool).substr(0, header_end + 1))) {
    require(!line.empty(), "no empty line inside the header");
    require(line.size() <= intake::kMaxHeaderLine, "header lines of at most 998 characters");
    require(!is_field(line, "bcc"), "no Bcc line in the header");
    from = from || is_field(line, "from");
    to = to || is_field(line, "to");
  }
  require(from && to, "the header has a From and a To line");
  if (!options.ignore_dot) {
    for (std::string_view line : lines_of(spool)) {
      require(line != ".", "no lone dot line in the spool without -i");
    }
  }
}

void check_end(std::string_view input, const Intake &result,
               const intake::RewriteOptions &options) {
  if (result.verdict == Verdict::header_line_too_long) return;
  require(result.consumed <= input.size(), "consumed within the input");
  std::string_view used = input.substr(0, result.consumed);
  if (result.verdict == Verdict::end_of_message) {
    require(!options.ignore_dot, "with -i only the end of input ends the message");
    require(!used.empty() && used.back() == '\n', "the message ends after an LF");
    used.remove_suffix(1);
    const std::size_t line_start = used.rfind('\n') + 1; // 0 when there is none
    require(without_cr(used.substr(line_start)) == ".", "the message ends at a \".\" line");
    used = used.substr(0, line_start);
  } else {
    require(result.consumed == input.size(), "the whole input consumed");
    // A last line without LF ends nothing: it is dropped if it is ".".
    used = used.substr(0, used.rfind('\n') + 1);
  }
  if (!options.ignore_dot) {
    for (std::string_view line : lines_of(used)) {
      require(without_cr(line) != ".", "no \".\" line before the end");
    }
  }
}

void check_recipients(const Intake &result, const intake::RewriteOptions &options) {
  require(options.extract_recipients || result.recipients.empty(), "recipients only with -t");
  require(result.recipients.size() <= intake::kMaxRecipients, "at most 30001 recipients");
  for (const std::string &entry : result.recipients) {
    require(!entry.empty() && entry.front() == '<', "a recipient begins with <");
    require(entry.size() <= intake::kMaxEnvelopeForm, "a recipient of at most 499 characters");
  }
  for (std::string_view line : lines_of(result.messages)) {
    require(std::string(line) + "\n" == intake::kAddressTooLong ||
                std::string(line) + "\n" == intake::kHeaderListFull,
            "only address messages");
  }
}

// The spool body for `body` when the header ended before it.
std::string expected_body(std::string_view body, bool ignore_dot) {
  std::string text = without_cr(body);
  if (!ignore_dot) {
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      if (text.compare(start, end - start, ".") == 0) {
        text.resize(start);
        break;
      }
      start = end + 1;
    }
  }
  if (!text.empty() && text.back() != '\n') text += '\n';
  if (text.find_first_not_of('\n') == std::string::npos) text += intake::kNoBodyMarker;
  return text;
}

// Takes `input` whole, byte by byte and in pieces of `sizes`; all must agree.
Intake checked_intake(std::string_view input, std::string_view sizes,
                      const intake::RewriteOptions &options) {
  const Intake whole = take_in(input, {}, options);
  const Intake bytes = take_in(input, std::string_view("\0", 1), options);
  const Intake pieces = take_in(input, sizes, options);
  require(bytes == whole, "byte by byte as whole");
  require(pieces == whole, "in pieces as whole");
  // Refusing a header line over 1 MiB needs longer inputs than are fuzzed.
  require(whole.verdict != Verdict::header_line_too_long, "no header line over 1 MiB");
  check_spool(whole.spool, options);
  check_end(input, whole, options);
  check_recipients(whole, options);
  return whole;
}

std::string many_recipients() {
  std::string joined;
  for (int i = 0; i < 80; ++i) {
    if (!joined.empty()) joined += ',';
    joined += "<recipient-" + std::to_string(i) + "@example.org>";
  }
  return joined;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string kToValues[] = {"", "<a@example.org>,<b@example.org>", many_recipients(),
                                          std::string(1500, 'x')};
  intake::RewriteOptions options;
  options.extract_recipients = (data[0] & 1) != 0;
  options.ignore_dot = (data[0] & 2) != 0;
  logs::set_debug_mode((data[0] & 4) != 0);
  options.from_value = "<sender@example.org>";
  options.to_value = kToValues[(data[0] >> 3) & 3];
  const std::string_view sizes = fuzz::as_text(data + 1, 2);
  const std::string_view message = fuzz::as_text(data + 3, size - 3);

  const Intake plain = checked_intake(message, sizes, options);

  // A Bcc field, continuation included, put first leaves the spool as it was:
  // a blind copy stays blind. With -t its addresses come first.
  // (Unless the message's first line, CRs removed, would continue the field.)
  const std::string clean = without_cr(message);
  if (clean.empty() || (clean.front() != ' ' && clean.front() != '\t')) {
    const std::string bcc = "Bcc: hidden@example.org,\r\n\thidden2@example.org\r\n";
    const Intake blind = checked_intake(bcc + std::string(message), sizes, options);
    require(blind.spool == plain.spool, "a Bcc field leaves the spool as it was");
    std::vector<std::string> recipients = plain.recipients;
    if (options.extract_recipients) {
      recipients.insert(recipients.begin(), {"<hidden@example.org>", "<hidden2@example.org>"});
    }
    require(blind.recipients == recipients, "a Bcc field's addresses are recipients with -t");
    require(blind.verdict == plain.verdict && blind.consumed == plain.consumed + bcc.size(),
            "a Bcc field ends nothing");
  }

  // After an empty first line everything is body.
  const std::string body_only = "\n" + std::string(message);
  const Intake result = checked_intake(body_only, sizes, options);
  const std::size_t header_end = result.spool.find("\n\n");
  require(result.spool.substr(header_end + 2) == expected_body(message, options.ignore_dot),
          "the body passes through without CR, up to the \".\" line");
  return 0;
}
