// The token endpoint's HTTP/1.1 answer (RFC 9112), read as it arrives: the
// status line, the header fields, and a body framed by Content-Length, by
// chunked transfer coding, or by the close of the connection. Memory stays
// bounded whatever the server sends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace oauth {

/// The largest body taken; a longer one is a failure.
inline constexpr std::size_t kLargestBody = 64 * 1024;
/// The largest status line plus header fields taken.
inline constexpr std::size_t kLargestHead = 16 * 1024;

enum class HttpProgress { more, done, failed };

/// The reading so far. Fill it with take_bytes and take_end alone.
struct HttpReader {
  HttpProgress progress = HttpProgress::more;
  int status = 0;      ///< once done: the status code
  std::string body;    ///< once done: the body, chunked coding removed
  std::string failure; ///< once failed: why, in words ("the answer is larger than 64 KiB")
  // The reader's own state.
  std::string head;          ///< the status line and fields until the blank line
  bool in_body = false;      ///< the head has been read whole
  bool chunked = false;      ///< the body is in chunked transfer coding
  long long remaining = -1;  ///< Content-Length bytes still to come; -1: until the close
  std::string chunk_state;   ///< chunked: the unread part of a size line or trailer
  long long chunk_left = 0;  ///< chunked: the bytes of the current chunk still to come
  int chunk_phase = 0;       ///< chunked: size line, data, CRLF after data, trailer
};

/// Takes the next `bytes` received; the progress after them. Bytes after a
/// finished answer are ignored.
HttpProgress take_bytes(HttpReader &reader, std::string_view bytes);

/// The server has closed the connection: the end of a body without length;
/// any other answer not yet finished is cut short (failed).
HttpProgress take_end(HttpReader &reader);

} // namespace oauth
