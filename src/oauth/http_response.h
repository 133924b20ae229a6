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
/// The largest status line plus header fields taken, and the largest
/// trailer.
inline constexpr std::size_t kLargestHead = 16 * 1024;

enum class HttpProgress { more, done, failed };

/// What the next bytes received are.
enum class HttpPart {
  head,          ///< the status line and header fields, up to the empty line
  sized_body,    ///< a body of Content-Length bytes
  body_to_close, ///< a body without length: until the close
  chunk_size,    ///< chunked: a chunk-size line
  chunk_data,    ///< chunked: a chunk's data
  chunk_end,     ///< chunked: the CRLF after a chunk's data
  trailer,       ///< chunked: the trailer fields, up to the empty line
};

/// The reading so far. Fill it with take_bytes and take_end alone.
struct HttpReader {
  HttpProgress progress = HttpProgress::more;
  int status = 0;      ///< once done: the status code
  std::string body;    ///< once done: the body, chunked coding removed
  std::string failure; ///< once failed: why, in words ("the answer is larger than 64 KiB")
  // The reader's own state.
  HttpPart part = HttpPart::head;
  std::string lines;    ///< the head's lines so far, or the trailer's (at most kLargestHead)
  std::string line;     ///< chunked: the chunk-size line or chunk end so far
  std::size_t left = 0; ///< the bytes of the body or of the chunk still to come
};

/// Takes the next `bytes` received; the progress after them. Bytes after a
/// finished answer are ignored.
HttpProgress take_bytes(HttpReader &reader, std::string_view bytes);

/// The server has closed the connection: the end of a body without length;
/// any other answer not yet finished is cut short (failed).
HttpProgress take_end(HttpReader &reader);

} // namespace oauth
