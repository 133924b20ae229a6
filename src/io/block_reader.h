// Reads an input in fixed blocks, so that memory does not grow with the
// length of the input or of any line in it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

namespace io {

inline constexpr std::size_t kBlockSize = 64 * 1024;

/// Reads at most `capacity` bytes into `buffer`: the count read, 0 at the end
/// of the input, -1 on an error (errno then tells which).
using ReadFunction = std::function<long(char *buffer, std::size_t capacity)>;

struct BlockReader {
  ReadFunction read;
  std::vector<char> block = std::vector<char>(kBlockSize);
  std::size_t next = 0; ///< first unconsumed byte of `block`
  std::size_t end = 0;  ///< one past the last byte read into `block`
  int error = 0;        ///< errno of a failed read, taken at the failure; 0 if none
};

/// A reader of `file` from where it stands.
BlockReader file_reader(std::FILE *file);

/// The unconsumed bytes of the current block, reading a new block when all
/// are consumed. Empty at the end of the input or after a read error.
std::string_view unconsumed(BlockReader &reader);

/// Marks the first `count` bytes that unconsumed() gave as consumed.
void consume(BlockReader &reader, std::size_t count);

/// How many bytes were read from the input but not consumed.
std::size_t read_ahead(const BlockReader &reader);

} // namespace io
