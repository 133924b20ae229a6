// The longest path the system opens, in bytes as quillrun holds paths.
#pragma once

#include <cstddef>

namespace platform {

#ifdef _WIN32
/// 32,767 UTF-16 units (with the "\\?\" prefix), each at most 3 bytes of UTF-8.
inline constexpr std::size_t kLongestPath = 32767 * 3;
#else
/// Linux's PATH_MAX less its terminating NUL.
inline constexpr std::size_t kLongestPath = 4095;
#endif

} // namespace platform
