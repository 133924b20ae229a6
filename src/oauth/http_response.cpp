#include "oauth/http_response.h"

#include "text/ascii.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace oauth {
namespace {

constexpr std::string_view kHttpName = "HTTP/";
/// A chunk-size line with its chunk extensions, which are ignored (RFC 9112 7.1.1).
constexpr std::size_t kLongestChunkLine = 1024;

void fail(HttpReader &reader, const char *why) {
  reader.progress = HttpProgress::failed;
  reader.failure = why;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// A line ends with CRLF, or with LF alone (RFC 9112 2.2).
std::string_view without_cr(std::string_view line) {
  return line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
}

// The lines of `text`, each ended by LF, without their line ends.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(without_cr(text.substr(at, end - at)));
    at = end + 1;
  }
  return lines;
}

// The elements of a comma-separated list, blanks around them removed
// (RFC 9110 5.6.1); empty ones included.
std::vector<std::string_view> elements(std::string_view list) {
  std::vector<std::string_view> found;
  for (std::size_t at = 0;;) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    found.push_back(trimmed(list.substr(at, comma - at)));
    if (comma == list.size()) return found;
    at = comma + 1;
  }
}

// "HTTP/1.x NNN[ REASON]" (RFC 9112 4); 0 when `line` is not one.
int status_of(std::string_view line) {
  if (line.size() < 12 || !line.starts_with("HTTP/1.") || !ascii::is_digit(line[7]) ||
      line[8] != ' ' || (line.size() > 12 && line[12] != ' ')) {
    return 0;
  }
  int code = 0;
  for (char c : line.substr(9, 3)) {
    if (!ascii::is_digit(c)) return 0;
    code = code * 10 + (c - '0');
  }
  return code >= 100 ? code : 0;
}

// Decimal digits, their value capped at kLargestBody + 1.
std::optional<std::size_t> content_length(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::size_t value = 0;
  for (char c : digits) {
    if (!ascii::is_digit(c)) return std::nullopt;
    value = std::min(value * 10 + static_cast<std::size_t>(c - '0'), kLargestBody + 1);
  }
  return value;
}

// What the header fields say of the body (RFC 9112 6.3).
struct Framing {
  int codings = 0;                   ///< transfer codings named
  bool only_chunked = true;          ///< each of them "chunked"
  std::optional<std::size_t> length; ///< Content-Length, capped at kLargestBody + 1
  bool bad_length = false;           ///< a Content-Length not digits, or two that differ
};

void note_field(Framing &framing, std::string_view name, std::string_view value) {
  if (ascii::equal_ignoring_case(name, "Transfer-Encoding")) {
    for (std::string_view coding : elements(value)) {
      if (coding.empty()) continue;
      ++framing.codings;
      framing.only_chunked = framing.only_chunked && ascii::equal_ignoring_case(coding, "chunked");
    }
  } else if (ascii::equal_ignoring_case(name, "Content-Length")) {
    for (std::string_view element : elements(value)) {
      const std::optional<std::size_t> length = content_length(element);
      if (!length || (framing.length && *framing.length != *length)) framing.bad_length = true;
      framing.length = length;
    }
  }
}

// The framing the field lines of `lines` (the status line and empty line
// excluded) ask for; nothing when one is not "NAME: VALUE". A line that
// begins with a blank continues the field before it (obs-fold, RFC 9112 5.2).
std::optional<Framing> framing_of(const std::vector<std::string_view> &lines) {
  Framing framing;
  for (std::size_t at = 1; at + 1 < lines.size();) {
    const std::string_view line = lines[at++];
    const std::size_t colon = line.find(':');
    // No blank in a field name, nor before the colon (RFC 9112 5.1).
    if (colon == 0 || colon == std::string_view::npos ||
        std::any_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon), is_blank)) {
      return std::nullopt;
    }
    std::string value(trimmed(line.substr(colon + 1)));
    for (; at + 1 < lines.size() && !lines[at].empty() && is_blank(lines[at].front()); ++at) {
      value += ' ';
      value += trimmed(lines[at]);
    }
    note_field(framing, line.substr(0, colon), trimmed(value));
  }
  return framing;
}

// The head is whole: the status, and how the body comes.
void end_head(HttpReader &reader) {
  const std::vector<std::string_view> lines = lines_of(reader.lines);
  const int status = status_of(lines.front());
  const std::optional<Framing> framing = framing_of(lines);
  if (status == 0 || !framing) {
    fail(reader, status == 0 ? "not an HTTP answer" : "a bad header field");
    return;
  }
  reader.lines.clear();
  // An interim answer (100 Continue): the final one follows (RFC 9110 15.2).
  if (status < 200) return;

  reader.status = status;
  if (status == 204 || status == 304) {
    reader.progress = HttpProgress::done;
  } else if (framing->codings > 0) {
    // Transfer-Encoding overrides Content-Length (RFC 9112 6.3); quillrun
    // asks for no other coding (no TE field).
    if (framing->codings > 1 || !framing->only_chunked) {
      fail(reader, "a transfer coding other than chunked");
    } else {
      reader.part = HttpPart::chunk_size;
    }
  } else if (framing->bad_length) {
    fail(reader, "a bad Content-Length");
  } else if (framing->length && *framing->length > kLargestBody) {
    fail(reader, "the answer is larger than 64 KiB");
  } else if (framing->length) {
    reader.part = HttpPart::sized_body;
    reader.left = *framing->length;
    if (reader.left == 0) reader.progress = HttpProgress::done;
  } else {
    reader.part = HttpPart::body_to_close;
  }
}

// Takes the head's or the trailer's next line, or as much of it as came.
std::size_t take_line_of_section(HttpReader &reader, std::string_view bytes) {
  const std::size_t newline = bytes.find('\n');
  const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
  const std::size_t room = kLargestHead - reader.lines.size();
  reader.lines.append(bytes.substr(0, std::min(end, room)));
  const bool head = reader.part == HttpPart::head;
  // Told at the fifth byte: a server that speaks another protocol is not
  // waited for.
  if (head && reader.lines.compare(0, kHttpName.size(), kHttpName, 0, reader.lines.size()) != 0) {
    fail(reader, "not an HTTP answer");
  } else if (end > room) {
    fail(reader, head ? "the answer's head is larger than 16 KiB"
                      : "the answer's trailer is larger than 16 KiB");
  }
  if (reader.progress == HttpProgress::failed) return 0;
  const std::string_view lines = reader.lines;
  if (newline != std::string_view::npos &&
      (lines == "\n" || lines == "\r\n" || lines.ends_with("\n\n") || lines.ends_with("\n\r\n"))) {
    if (head) {
      end_head(reader);
    } else {
      reader.progress = HttpProgress::done;
    }
  }
  return end;
}

// The size of a chunk-size line (RFC 9112 7.1): hex digits, then nothing or
// chunk extensions after ";".
void end_chunk_size_line(HttpReader &reader) {
  const std::string_view line =
      without_cr(std::string_view(reader.line).substr(0, reader.line.size() - 1));
  std::uint64_t size = 0;
  std::size_t digits = 0;
  for (; digits < line.size(); ++digits) {
    const char c = ascii::to_lower(line[digits]);
    const bool hex = ascii::is_digit(c) || (c >= 'a' && c <= 'f');
    if (!hex) break;
    if (size >> 60 != 0) return fail(reader, "a bad chunk size");
    size = size << 4 | static_cast<std::uint64_t>(ascii::is_digit(c) ? c - '0' : c - 'a' + 10);
  }
  const std::string_view rest = trimmed(line.substr(digits));
  if (digits == 0 || !(rest.empty() || rest.front() == ';')) {
    fail(reader, "a bad chunk size");
  } else if (size > kLargestBody - reader.body.size()) {
    fail(reader, "the answer is larger than 64 KiB");
  } else {
    reader.line.clear();
    reader.left = static_cast<std::size_t>(size);
    reader.part = size == 0 ? HttpPart::trailer : HttpPart::chunk_data;
  }
}

std::size_t take_chunk_size_line(HttpReader &reader, std::string_view bytes) {
  const std::size_t newline = bytes.find('\n');
  const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
  if (end > kLongestChunkLine - reader.line.size()) {
    fail(reader, "a chunk-size line longer than 1 KiB");
    return 0;
  }
  reader.line.append(bytes.substr(0, end));
  if (newline != std::string_view::npos) end_chunk_size_line(reader);
  return end;
}

// The CRLF after a chunk's data, or LF alone.
std::size_t take_chunk_end(HttpReader &reader, char c) {
  if (c == '\r' && reader.line.empty()) {
    reader.line = "\r";
  } else if (c == '\n') {
    reader.line.clear();
    reader.part = HttpPart::chunk_size;
  } else {
    fail(reader, "a chunk without its CRLF");
    return 0;
  }
  return 1;
}

// Takes up to reader.left bytes of the body.
std::size_t take_counted(HttpReader &reader, std::string_view bytes) {
  const std::size_t taken = std::min(bytes.size(), reader.left);
  reader.body.append(bytes.substr(0, taken));
  reader.left -= taken;
  if (reader.left == 0 && reader.part == HttpPart::sized_body) {
    reader.progress = HttpProgress::done;
  } else if (reader.left == 0) {
    reader.part = HttpPart::chunk_end;
  }
  return taken;
}

std::size_t take_to_close(HttpReader &reader, std::string_view bytes) {
  if (bytes.size() > kLargestBody - reader.body.size()) {
    fail(reader, "the answer is larger than 64 KiB");
    return 0;
  }
  reader.body.append(bytes);
  return bytes.size();
}

std::size_t take_part(HttpReader &reader, std::string_view bytes) {
  switch (reader.part) {
  case HttpPart::head:
  case HttpPart::trailer:
    return take_line_of_section(reader, bytes);
  case HttpPart::sized_body:
  case HttpPart::chunk_data:
    return take_counted(reader, bytes);
  case HttpPart::body_to_close:
    return take_to_close(reader, bytes);
  case HttpPart::chunk_size:
    return take_chunk_size_line(reader, bytes);
  case HttpPart::chunk_end:
    return take_chunk_end(reader, bytes.front());
  }
  return bytes.size();
}

} // namespace

HttpProgress take_bytes(HttpReader &reader, std::string_view bytes) {
  while (!bytes.empty() && reader.progress == HttpProgress::more) {
    bytes.remove_prefix(take_part(reader, bytes));
  }
  return reader.progress;
}

HttpProgress take_end(HttpReader &reader) {
  if (reader.progress != HttpProgress::more) return reader.progress;
  if (reader.part == HttpPart::body_to_close) {
    reader.progress = HttpProgress::done;
  } else {
    fail(reader, reader.part == HttpPart::head && reader.lines.empty()
                     ? "no answer"
                     : "the answer was cut short");
  }
  return reader.progress;
}

} // namespace oauth
