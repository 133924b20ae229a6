#include "intake/line_reader.h"

#include <cstring>

namespace intake {

bool read_line(LineReader &reader, std::string &line) {
  line.clear();
  bool got_any = false;
  for (;;) {
    if (reader.next == reader.end) {
      reader.next = 0;
      reader.end = std::fread(reader.block.data(), 1, reader.block.size(), reader.file);
      if (reader.end == 0) {
        reader.failed = std::ferror(reader.file) != 0;
        return got_any && !reader.failed;
      }
    }
    const char *start = reader.block.data() + reader.next;
    std::size_t available = reader.end - reader.next;
    const void *newline = std::memchr(start, '\n', available);
    std::size_t taken = newline != nullptr
                            ? static_cast<std::size_t>(static_cast<const char *>(newline) - start)
                            : available;
    line.append(start, taken);
    got_any = true;
    if (newline != nullptr) {
      reader.next += taken + 1;
      return true;
    }
    reader.next = reader.end;
  }
}

} // namespace intake
