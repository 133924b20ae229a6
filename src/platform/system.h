// Process, file and time services of the operating system that the standard
// library does not cover the same way on every platform.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

int process_id();

void sleep_seconds(unsigned seconds);

/// Creates a directory; the outcome is not reported (it may exist already).
void make_directory(const std::string &path);

/// Switches standard input to binary mode, so bytes arrive as sent.
void use_binary_standard_input();

/// One read of standard input: the count read (as soon as any bytes are
/// there, never waiting to fill `capacity`), 0 at its end, -1 on an error
/// with errno set.
long read_standard_input(char *buffer, std::size_t capacity);

/// Moves standard input back by `count` bytes read but not used, so that a
/// caller reading on finds them; nothing happens where it cannot seek (a pipe).
void unread_standard_input(std::size_t count);

} // namespace platform
