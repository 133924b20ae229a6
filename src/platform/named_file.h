// Files written by a fixed name where others may write too: the logs in the
// current directory and the pid file. None is ever waited on (a FIFO or
// device in its place would hold the run for ever), and only a regular file
// is used.
#pragma once

#include <cstdio>

namespace platform {

/// `path` opened for appending as a text file, created readable and writable
/// by its owner alone when missing. Never through a symbolic link (on
/// Windows a reparse point). nullptr when it cannot be opened so or is not a
/// regular file.
std::FILE *open_log_file(const char *path);

/// `path` opened for writing and emptied, created when missing. Never through
/// a symbolic link or reparse point; nullptr unless it is a regular file.
std::FILE *open_pid_file(const char *path);

} // namespace platform
