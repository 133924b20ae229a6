// The invocation log "quillrun.log": one record for every run, written before
// the options are read, telling who called the program, when, and how.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace logs {

inline constexpr const char *kInvocationLogName = "quillrun.log";

/// `text` with every control byte made visible as the record shows it:
/// CR as "\r", LF as "\n", any other byte below 0x20 and 0x7F as "\xHH".
std::string escaped(std::string_view text);

/// The record: `ctime_text` (which ends with its own line feed), a space, the
/// default sender and a space, each argument followed by a space, a line feed.
/// Every control byte of the sender and the arguments is made visible, so
/// that a record is always exactly two lines: CR as "\r", LF as "\n", any
/// other byte below 0x20 and 0x7F as "\xHH" (upper-case hex). Every other
/// byte stands as typed, a backslash too: a Windows path reads as it was
/// given (the log is for people; a record still cannot be forged).
std::string invocation_record(std::string_view ctime_text, std::string_view default_sender,
                              const std::vector<std::string> &args);

/// Appends `record` to the log `path`, opened as every log is, in one write
/// of the whole: the records of runs appending at once never interleave.
/// A log that cannot be opened is skipped silently.
void append_record(const std::string &path, std::string_view record);

/// Appends the record for a run started at `start` to the invocation log in
/// the log folder; a log that cannot be opened is skipped silently.
void append_invocation_record(std::time_t start, std::string_view default_sender,
                              const std::vector<std::string> &args);

} // namespace logs
