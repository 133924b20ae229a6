// Process, file and time services of the operating system that the standard
// library does not cover the same way on every platform.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

int process_id();

void sleep_seconds(unsigned seconds);

/// Creates a directory; the outcome is not reported (it may exist already).
void make_directory(const std::string &path);

/// Removes a file; the outcome is not reported.
void remove_file(const std::string &path);

/// Creates `path` for writing in binary mode, only if no file or link of that
/// name exists, readable and writable by its owner alone. nullptr on failure.
std::FILE *create_private_file(const std::string &path);

/// Switches standard input to binary mode, so bytes arrive as sent.
void use_binary_standard_input();

} // namespace platform
