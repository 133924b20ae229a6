// Process, file and time services of the operating system that the standard
// library does not cover the same way on every platform.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

/// The first thing a run does. Descriptors 0, 1 and 2 that the caller left
/// closed are opened on the null device, so that no file or socket of the run
/// can take their numbers (a closed standard input still reads as an error).
/// A write to a closed pipe or past the file size limit fails with an error
/// instead of ending the process. Ends the process with status 1 when the
/// standard descriptors cannot be made safe.
void start_process();

int process_id();

void sleep_seconds(unsigned seconds);

/// Creates a directory; the outcome is not reported (it may exist already).
void make_directory(const std::string &path);

/// Switches standard input to binary mode, so bytes arrive as sent.
void use_binary_standard_input();

/// Switches standard output to binary mode, so that CR LF goes out as it is.
void use_binary_standard_output();

/// Waits at most `timeout_ms` milliseconds for standard input to have bytes
/// (or its end, or an error) to read; false when the time ran out.
bool wait_for_standard_input(int timeout_ms);

/// One read of standard input: the count read (as soon as any bytes are
/// there, never waiting to fill `capacity`), 0 at its end, -1 on an error
/// with errno set (always, when the caller had left it closed).
long read_standard_input(char *buffer, std::size_t capacity);

/// Moves standard input back by `count` bytes read but not used, so that a
/// caller reading on finds them; nothing happens where it cannot seek (a pipe).
void unread_standard_input(std::size_t count);

} // namespace platform
