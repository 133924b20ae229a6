#include "intake/message_rewrite.h"

#include "intake/address.h"
#include "intake/header_fields.h"
#include "intake/header_fold.h"

#include <algorithm>

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
      if (options.debug) {
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

} // namespace

LineVerdict rewrite_line(std::string &line, const RewriteOptions &options, RewriteState &state,
                         RecipientList &list, RewriteOutput &out) {
  // A CR before the LF ends the line; any other CR is dropped, and the text
  // around it kept, so no line of the spool file holds one.
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  if (!options.ignore_dot && line == ".") return LineVerdict::end_of_message;

  if (state.in_header) {
    if (line.empty() || ends_header_unannounced(line)) {
      state.in_header = false;
      state.address_continuation = false;
      write_synthesized_headers(options, state, out);
      if (!line.empty()) out.spool += '\n';
    } else {
      if (take_header_line(line, options, state, list, out)) append_folded(line, out.spool);
      return LineVerdict::more;
    }
  }

  // One allocation for the line and its LF, however long the line is.
  out.spool.reserve(out.spool.size() + line.size() + 1);
  out.spool += line;
  out.spool += '\n';
  state.body_seen = state.body_seen || !line.empty();
  return LineVerdict::more;
}

void finish_message(const RewriteOptions &options, const RewriteState &state, RewriteOutput &out) {
  if (state.in_header) {
    write_synthesized_headers(options, state, out);
    out.spool += '\n';
  }
  if (!state.body_seen) out.spool += kNoBodyMarker;
}

} // namespace intake
