#include "io/block_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace io {
namespace {

// Reads `chunks` one per call, then the end of input (or an error).
ReadFunction reading(std::vector<std::string> chunks, bool error_at_end = false) {
  return [chunks = std::move(chunks), next = std::size_t{0},
          error_at_end](char *buffer, std::size_t capacity) mutable -> long {
    if (next == chunks.size()) {
      if (!error_at_end) return 0;
      errno = EIO;
      return -1;
    }
    std::string &chunk = chunks[next];
    std::size_t count = chunk.size() < capacity ? chunk.size() : capacity;
    chunk.copy(buffer, count);
    chunk.erase(0, count);
    if (chunk.empty()) ++next;
    return static_cast<long>(count);
  };
}

TEST(BlockReader, GivesWhatEachReadBroughtAndReadsAgainOnlyWhenAllIsConsumed) {
  BlockReader reader{reading({"abc", "de"})};
  EXPECT_EQ(unconsumed(reader), "abc");
  consume(reader, 1);
  EXPECT_EQ(unconsumed(reader), "bc");
  EXPECT_EQ(read_ahead(reader), 2u);
  consume(reader, 2);
  EXPECT_EQ(unconsumed(reader), "de");
  consume(reader, 2);
  EXPECT_EQ(unconsumed(reader), "");
  EXPECT_EQ(reader.error, 0);
}

TEST(BlockReader, ReadsAtMostOneBlockAtATime) {
  BlockReader reader{reading({std::string(kBlockSize + 10, 'x')})};
  EXPECT_EQ(unconsumed(reader).size(), kBlockSize);
  consume(reader, kBlockSize);
  EXPECT_EQ(unconsumed(reader).size(), 10u);
}

TEST(BlockReader, AReadErrorEndsTheInputWithItsErrnoKept) {
  BlockReader reader{reading({"ab"}, true)};
  consume(reader, unconsumed(reader).size());
  EXPECT_EQ(unconsumed(reader), "");
  EXPECT_EQ(reader.error, EIO);
  EXPECT_EQ(unconsumed(reader), "") << "no read after an error";
}

} // namespace
} // namespace io
