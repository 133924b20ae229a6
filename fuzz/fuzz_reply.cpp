// Replies assembled from a stream must not depend on how the stream was cut
// into receives, and each whole reply must end with a line feed.
#include "smtp/reply.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// Feeds `stream` in pieces of `step` bytes; returns the whole replies found.
std::vector<std::string> replies_of(std::string_view stream, std::size_t step) {
  std::vector<std::string> replies;
  std::string received;
  for (std::size_t at = 0; at < stream.size(); at += step) {
    received.append(stream.substr(at, step));
    while (auto length = smtp::complete_reply_length(received)) {
      require(*length <= received.size() && received[*length - 1] == '\n');
      replies.push_back(received.substr(0, *length));
      received.erase(0, *length);
    }
  }
  return replies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t step = data[0] % 16 + 1;
  require(replies_of(stream, step) == replies_of(stream, stream.size() + 1));
  for (const std::string& reply : replies_of(stream, step)) {
    require(smtp::first_line(smtp::make_reply(reply)).find('\n') == std::string::npos);
  }
  return 0;
}
