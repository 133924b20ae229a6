// The spool file at the level of the operating system: a private file that
// never outlives the run, whether the run ends normally, is interrupted, or
// runs out of memory.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

/// Creates `path` only if no file or link of that name exists, for reading
/// and writing in binary mode, readable and writable by its owner alone.
/// Until remove_private_file, an interrupted or abandoned run removes it. On
/// Windows nobody else may open it meanwhile, and the system removes it when
/// its handle closes, however the process ends. nullptr on failure, with
/// nothing left behind.
std::FILE *create_private_file(const std::string &path);

/// Removes the file that create_private_file made and closes it. Only
/// POSIX removes it by name, which removes a link put in its place, never
/// the link's target.
void remove_private_file(const std::string &path, std::FILE *file);

/// From now on every signal that would end the process (on Windows Ctrl+C,
/// Ctrl+Break, the closing of the console, logoff and shutdown) ends it with
/// the ending status after removing the private file. Only SIGKILL cannot.
void end_run_on_interrupt();

/// The status a run cut short ends with from now on; 1 until set.
void set_ending_status(int status);

/// Ends the process at once with the ending status, after removing the
/// private file.
[[noreturn]] void abandon_run();

} // namespace platform
