// Reads a stream as whole lines, in large blocks.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace intake {

struct LineReader {
  std::FILE *file;
  std::vector<char> block = std::vector<char>(64 * 1024);
  std::size_t next = 0; ///< first unread byte of `block`
  std::size_t end = 0;  ///< one past the last byte read into `block`
  bool failed = false;  ///< a read error, not the end of the input
};

/// The next line of the stream, whatever its length, without its LF; a last
/// line without LF counts too. False at the end of input or on a read error
/// (then `reader.failed` is set).
bool read_line(LineReader &reader, std::string &line);

} // namespace intake
