// The token endpoint's HTTP answer, however it is cut into receives:
// - the outcome (progress, failure, and once done status and body) is that
//   of the stream received whole;
// - memory stays bounded: never more than 64 KiB of body, 16 KiB of head or
//   trailer, 1 KiB of chunk-size line;
// - a finished answer is a final one: status 200 to 999 (interim 1xx
//   answers are skipped);
// - a failure, and only a failure, says why; after the close nothing is
//   awaited.
//
// Input: a byte for where the stream is cut in two (its share of 256), a
// byte of flags (1: the server closes after the stream; 2: 66 KiB of "x"
// and the stream again follow the stream), a byte for the size of the
// pieces (1 to 256) of the third reading, the stream.
#include "fuzz_support.h"
#include "oauth/http_response.h"

#include <string>
#include <vector>

namespace {

using fuzz::require;
using oauth::HttpProgress;
using oauth::HttpReader;

void check_bounds(const HttpReader &reader) {
  require(reader.body.size() <= oauth::kLargestBody, "at most 64 KiB of body");
  require(reader.lines.size() <= oauth::kLargestHead, "at most 16 KiB of head or trailer");
  require(reader.line.size() <= 1024, "at most 1 KiB of chunk-size line");
}

HttpReader read(const std::vector<std::string_view> &pieces, bool closed) {
  HttpReader reader;
  for (std::string_view piece : pieces) {
    const HttpProgress before = reader.progress;
    const std::size_t body = reader.body.size();
    take_bytes(reader, piece);
    check_bounds(reader);
    require(before == HttpProgress::more ||
                (reader.progress == before && reader.body.size() == body),
            "bytes after the end change nothing");
  }
  if (closed) take_end(reader);
  return reader;
}

// The same outcome: status and body count once done.
bool same(const HttpReader &a, const HttpReader &b) {
  return a.progress == b.progress && a.failure == b.failure &&
         (a.progress != HttpProgress::done || (a.status == b.status && a.body == b.body));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  const bool closed = (data[1] & 1) != 0;
  std::string stream(fuzz::as_text(data + 3, size - 3));
  if ((data[1] & 2) != 0) {
    const std::string once = stream;
    stream.append(66 * 1024, 'x');
    stream += once;
  }
  const std::size_t cut = stream.size() * data[0] / 256;

  const HttpReader whole = read({stream}, closed);
  require(same(read({stream.substr(0, cut), stream.substr(cut)}, closed), whole),
          "cut in two as whole");
  require(same(read(fuzz::cut(stream, fuzz::as_text(data + 2, 1)), closed), whole),
          "in pieces as whole");

  require((whole.progress == HttpProgress::failed) == !whole.failure.empty(),
          "a failure, and only a failure, says why");
  require(!closed || whole.progress != HttpProgress::more, "after the close nothing is awaited");
  if (whole.progress == HttpProgress::done) {
    require(whole.status >= 200 && whole.status <= 999, "a finished answer is a final one");
    require(whole.body.size() <= stream.size(), "the body came in the stream");
  }
  return 0;
}
