// What the fuzz targets share: a failed property aborts the run with its
// name, and a stream is cut into pieces whose sizes come from the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace fuzz {

inline void require(bool condition, const char *property) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

/// The fuzz input as text.
inline std::string_view as_text(const std::uint8_t *data, std::size_t size) {
  return {reinterpret_cast<const char *>(data), size};
}

/// `stream` cut into pieces whose sizes (1 to 256 units) cycle through the
/// bytes of `sizes`; a single piece when `sizes` is empty.
inline std::vector<std::string_view> cut(std::string_view stream, std::string_view sizes,
                                         std::size_t unit = 1) {
  std::vector<std::string_view> pieces;
  for (std::size_t at = 0, k = 0; at < stream.size(); ++k) {
    std::size_t size = sizes.empty()
                           ? stream.size()
                           : (static_cast<unsigned char>(sizes[k % sizes.size()]) + 1u) * unit;
    pieces.push_back(stream.substr(at, size));
    at += pieces.back().size();
  }
  return pieces;
}

} // namespace fuzz
