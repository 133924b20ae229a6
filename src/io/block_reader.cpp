#include "io/block_reader.h"

#include <cerrno>

namespace io {

BlockReader file_reader(std::FILE *file) {
  return {[file](char *buffer, std::size_t capacity) -> long {
    errno = 0;
    std::size_t count = std::fread(buffer, 1, capacity, file);
    return count == 0 && std::ferror(file) ? -1 : static_cast<long>(count);
  }};
}

std::string_view unconsumed(BlockReader &reader) {
  if (reader.next == reader.end && reader.error == 0) {
    reader.next = 0;
    reader.end = 0;
    long count = reader.read(reader.block.data(), reader.block.size());
    if (count < 0) {
      reader.error = errno != 0 ? errno : EIO;
    } else {
      reader.end = static_cast<std::size_t>(count);
    }
  }
  return {reader.block.data() + reader.next, reader.end - reader.next};
}

void consume(BlockReader &reader, std::size_t count) { reader.next += count; }

std::size_t read_ahead(const BlockReader &reader) { return reader.end - reader.next; }

} // namespace io
