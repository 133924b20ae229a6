#include "intake/message_rewrite.h"

#include "intake/address.h"
#include "intake/header_fields.h"
#include "intake/header_fold.h"
#include "log/debug_log.h"

namespace intake {
namespace {

constexpr std::size_t kDebugLineCut = 100;

bool starts_with_blank(const std::string &line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

void write_synthesized_headers(const RewriteOptions &options, const RewriteState &state,
                               RewriteOutput &out) {
  if (!state.from_seen) append_folded("From: " + options.from_value, out.spool);
  if (!state.to_seen) append_folded("To: " + options.to_value, out.spool);
}

void add_header_recipients(std::string_view text, RecipientList &list, RewriteOutput &out) {
  for (std::string &candidate : header_addresses(text)) {
    if (candidate.size() > kMaxEnvelopeForm) {
      out.messages += kAddressTooLong;
    } else if (!add_recipient(list, std::move(candidate))) {
      out.messages += kHeaderListFull;
    }
  }
}

// A line without a colon that does not continue a field cannot be a header
// line: the header ended before it, and it is the first body line.
bool ends_header_unannounced(const std::string &line) {
  return !starts_with_blank(line) && line.find(':') == std::string::npos;
}

// The header-line rules; returns false when the line is left out.
bool take_header_line(const std::string &line, const RewriteOptions &options, RewriteState &state,
                      RecipientList &list, RewriteOutput &out) {
  if (starts_with_blank(line) && (state.address_continuation || state.bcc_continuation)) {
    if (state.address_continuation) {
      if (logs::debug_mode()) {
        out.debug += "Found continuation of header (" + line.substr(0, kDebugLineCut) + ")\n";
      }
      add_header_recipients(line, list, out);
    }
    return !state.bcc_continuation;
  }
  state.address_continuation = false;
  state.bcc_continuation = false;

  FieldMatch match = match_header_field(line);
  if (match.field == nullptr) return true;
  state.from_seen = state.from_seen || match.field->is_from;
  state.to_seen = state.to_seen || match.field->is_to;
  if (options.extract_recipients && match.field->has_recipients) {
    add_header_recipients(std::string_view(line).substr(match.value_start), list, out);
    state.address_continuation = true;
  }
  state.bcc_continuation = match.field->is_removed;
  return !match.field->is_removed;
}

// Appends `bytes` to the header line without their carriage returns; false
// once the line is longer than may be held.
bool hold_header_bytes(std::string_view bytes, std::string &line) {
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t cr = bytes.find('\r', start);
    if (cr == std::string_view::npos) cr = bytes.size();
    line.append(bytes, start, cr - start);
    start = cr + 1;
  }
  return line.size() <= kMaxHeldHeaderLine;
}

// A whole header line, read up to its LF or the end of input, is in
// `state.header_line`: it is ruled on and the line emptied.
Verdict end_header_line(const RewriteOptions &options, RewriteState &state, RecipientList &list,
                        RewriteOutput &out) {
  std::string &line = state.header_line;
  Verdict verdict = Verdict::more;
  if (!options.ignore_dot && line == ".") {
    verdict = Verdict::end_of_message;
  } else if (line.empty() || ends_header_unannounced(line)) {
    state.in_header = false;
    state.address_continuation = false;
    write_synthesized_headers(options, state, out);
    out.spool += '\n';
    if (!line.empty()) {
      out.spool += line;
      out.spool += '\n';
      state.body_seen = true;
    }
  } else if (take_header_line(line, options, state, list, out)) {
    append_folded(line, out.spool);
  }
  line.clear();
  return verdict;
}

// Passes body bytes on without their carriage returns, up to the end of a
// "." line if one comes; returns how many were taken. Only a line start and
// a pending lone dot need remembering between pieces.
std::size_t take_body(std::string_view input, const RewriteOptions &options, RewriteState &state,
                      RewriteOutput &out, bool &ended) {
  std::size_t at = 0;
  while (at < input.size()) {
    const char c = input[at];
    if (c == '\r') {
      ++at;
      continue;
    }
    if (state.dot_pending) {
      state.dot_pending = false;
      if (c == '\n') {
        ended = true;
        return at + 1;
      }
      out.spool += '.';
      state.at_line_start = false;
      state.body_seen = true;
    } else if (state.at_line_start && c == '.' && !options.ignore_dot) {
      state.dot_pending = true;
      ++at;
      continue;
    }
    if (c == '\n') {
      out.spool += '\n';
      state.at_line_start = true;
      ++at;
      continue;
    }
    std::size_t end = input.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = input.size();
    out.spool.append(input, at, end - at);
    state.at_line_start = false;
    state.body_seen = true;
    at = end;
  }
  return at;
}

} // namespace

Taken take_input(std::string_view input, const RewriteOptions &options, RewriteState &state,
                 RecipientList &list, RewriteOutput &out) {
  std::size_t at = 0;
  while (at < input.size()) {
    if (!state.in_header) {
      bool ended = false;
      at += take_body(input.substr(at), options, state, out, ended);
      return {at, ended ? Verdict::end_of_message : Verdict::more};
    }
    std::size_t newline = input.find('\n', at);
    std::size_t end = newline == std::string_view::npos ? input.size() : newline;
    if (!hold_header_bytes(input.substr(at, end - at), state.header_line)) {
      return {end, Verdict::header_line_too_long};
    }
    if (newline == std::string_view::npos) return {input.size(), Verdict::more};
    at = newline + 1;
    Verdict verdict = end_header_line(options, state, list, out);
    if (verdict != Verdict::more) return {at, verdict};
  }
  return {at, Verdict::more};
}

void finish_message(const RewriteOptions &options, RewriteState &state, RecipientList &list,
                    RewriteOutput &out) {
  // A last line without LF is a line like any other; as a lone "." it ends
  // the message unwritten.
  if (state.in_header && !state.header_line.empty()) end_header_line(options, state, list, out);
  if (state.dot_pending) {
    state.dot_pending = false;
  } else if (!state.in_header && !state.at_line_start) {
    out.spool += '\n';
    state.at_line_start = true;
  }
  if (state.in_header) {
    write_synthesized_headers(options, state, out);
    out.spool += '\n';
  }
  if (!state.body_seen) out.spool += kNoBodyMarker;
}

} // namespace intake
