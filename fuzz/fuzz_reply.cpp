// Reply assembly as the session drives it: bytes beyond a reply's end wait
// for the next reply, and a connection closed on a reply ends it. Whatever
// the stream and however it is cut into receives:
// - the replies are those of the stream received whole;
// - the bytes each reply took add up to the stream; its text is their first
//   64 KiB and the rest is counted as dropped;
// - every line of a reply but its last begins with three digits and "-",
//   its last does not, and it ends with LF unless the close ended it;
// - the code is the text's leading number as strtol reads it, within int;
// - the first line is the text up to its first LF, CR or NUL.
//
// Input: a byte (its low six bits all set: 66 KiB of continuation lines and
// the stream again follow the stream), two bytes of piece sizes, the stream.
#include "fuzz_support.h"
#include "smtp/reply.h"

#include <cctype>
#include <climits>
#include <string>
#include <vector>

namespace {

using fuzz::require;

struct Assembled {
  smtp::Reply reply;
  std::size_t start = 0; ///< where its bytes begin in the stream
  std::size_t taken = 0; ///< how many it took
  bool closed = false;   ///< ended by the close, not by its last line

  bool operator==(const Assembled &other) const {
    return reply.text == other.reply.text && reply.dropped == other.reply.dropped &&
           reply.code == other.reply.code && start == other.start && taken == other.taken &&
           closed == other.closed;
  }
};

// Mirrors the session: each reply first takes what the last one left over
// (held here as a view of the stream, where the session keeps a copy).
std::vector<Assembled> replies_of(std::string_view stream, std::string_view sizes,
                                  std::size_t unit) {
  const std::vector<std::string_view> pieces = fuzz::cut(stream, sizes, unit);
  std::vector<Assembled> replies;
  std::string_view pending;
  std::size_t next = 0;
  auto take = [&](Assembled &one, std::string_view bytes) {
    std::size_t used = smtp::take_reply_bytes(one.reply, bytes);
    require(used <= bytes.size(), "no more taken than given");
    require(one.reply.complete || used == bytes.size(), "all taken while the reply goes on");
    one.taken += used;
    pending = bytes.substr(used);
  };
  for (std::size_t position = 0;; position += replies.back().taken) {
    Assembled one;
    one.start = position;
    take(one, pending);
    while (!one.reply.complete) {
      if (next == pieces.size()) {
        if (one.reply.text.empty()) return replies;
        smtp::end_reply(one.reply);
        one.closed = true;
        break;
      }
      take(one, pieces[next++]);
    }
    replies.push_back(std::move(one));
  }
}

bool continues(std::string_view line) {
  return line.size() > 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1])) &&
         std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == '-';
}

int expected_code(const std::string &text) {
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void check_reply(std::string_view stream, const Assembled &one) {
  const smtp::Reply &reply = one.reply;
  const std::string_view bytes = stream.substr(one.start, one.taken);
  require(bytes.size() == one.taken, "taken bytes lie within the stream");
  require(reply.complete, "a reply is complete");
  require(reply.text.size() <= smtp::kMaxReplyKept, "at most 64 KiB kept");
  require(reply.text == bytes.substr(0, smtp::kMaxReplyKept), "the text is the first bytes");
  require(reply.text.size() + reply.dropped == one.taken, "kept and dropped add up");
  require(!bytes.empty(), "a reply took bytes");
  require(one.closed || bytes.back() == '\n', "a reply ends with LF unless closed");
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find('\n', start);
    end = end == std::string_view::npos ? bytes.size() : end + 1;
    const bool last = end == bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    if (!last) require(continues(line), "a line before the last continues the reply");
    if (last && !one.closed) require(!continues(line), "the last line ends the reply");
    start = end;
  }
  require(reply.code == expected_code(reply.text), "the code is the leading number");
  const std::string first = smtp::first_line(reply);
  require(reply.text.compare(0, first.size(), first) == 0, "the first line begins the text");
  require(first.size() == reply.text.size() ||
              std::string_view("\n\r\0", 3).find(reply.text[first.size()]) !=
                  std::string_view::npos,
          "the first line ends at LF, CR or NUL");
  require(first.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos,
          "no LF, CR or NUL in the first line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  const std::string_view sizes = fuzz::as_text(data + 1, 2);
  std::string stream(fuzz::as_text(data + 3, size - 3));
  std::size_t unit = 1;
  if ((data[0] & 0x3F) == 0x3F) {
    unit = 64; // pieces of 64 bytes and more: byte-sized ones would cost too much here
    // A server that goes on and on: continuation lines past what is kept,
    // between two copies of the input.
    const std::string once = stream;
    for (std::size_t lines = 0; lines < 66; ++lines)
      stream += "250-" + std::string(1020, 'x') + "\n";
    stream += once;
  }

  const std::vector<Assembled> whole = replies_of(stream, {}, 1);
  require(replies_of(stream, sizes, unit) == whole, "in pieces as whole");
  std::size_t total = 0;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    check_reply(stream, whole[i]);
    require(whole[i].start == total, "replies follow each other");
    require(!whole[i].closed || i + 1 == whole.size(), "only the last reply ends by the close");
    total += whole[i].taken;
  }
  require(total == stream.size(), "the replies take the whole stream");
  return 0;
}
