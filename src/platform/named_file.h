// Files written by a fixed name where others may write too: the logs in the
// current directory and the pid file. None is ever waited on (a FIFO or
// device in its place would hold the run for ever), and only a regular file
// is used.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

/// `path` opened for appending (in binary: see log_lines), created readable and writable
/// by its owner alone when missing. Never through a symbolic link (on
/// Windows a reparse point). nullptr when it cannot be opened so or is not a
/// regular file.
std::FILE *open_log_file(const char *path);

/// The file `name` in `folder` (the system's separator between them, none
/// added after one already there); `name` alone when `folder` is empty.
std::string path_in(const std::string &folder, const std::string &name);

/// `text` ready for a log opened by open_log_file, each line ending as the
/// system's text files do: on Windows every line with one CR LF, a LF
/// given a CR and a CR LF of the dialogue kept as it is (never CR CR LF);
/// elsewhere unchanged.
std::string log_lines(std::string_view text);

/// `path` opened for writing and emptied, created when missing. Never through
/// a symbolic link or reparse point; nullptr unless it is a regular file.
std::FILE *open_pid_file(const char *path);

} // namespace platform
