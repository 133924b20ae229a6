// Scratch files for the tests that need a FILE* or a path.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace unit {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes.
struct ScratchDirectory {
  std::filesystem::path path;
  ScratchDirectory()
      : ScratchDirectory("quillrun-unit-" + std::to_string(std::random_device()())) {}
  /// A directory of a fixed name: a death test that runs in a new process
  /// (on Windows) runs the test's body again there, so both must agree.
  explicit ScratchDirectory(const std::string &name)
      : path(std::filesystem::temp_directory_path() / name) {
    std::filesystem::create_directory(path);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string file(const std::string &name) const { return (path / name).string(); }
};

inline void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// A temporary file holding `bytes`, positioned at its start.
inline std::FILE *file_holding(const std::string &bytes) {
  std::FILE *file = std::tmpfile();
  if (file != nullptr) std::fwrite(bytes.data(), 1, bytes.size(), file);
  if (file != nullptr) std::rewind(file);
  return file;
}

} // namespace unit
