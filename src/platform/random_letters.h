// Random letters for names that must not meet another run's: the spool
// file's, and the new file a private file is replaced with.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

namespace platform {

/// `count` letters or digits drawn from the system's entropy.
inline std::string random_letters(std::size_t count) {
  static constexpr std::string_view alphabet =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device entropy;
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string letters;
  for (std::size_t i = 0; i < count; ++i) letters += alphabet[pick(entropy)];
  return letters;
}

} // namespace platform
