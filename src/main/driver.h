// The run, from start to exit status, in one straight path.
#pragma once

#include <string>
#include <vector>

namespace invocation {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;

/// Runs the program on `args` (the program name first) and returns the exit
/// status: 0 when the message was handed over or a run mode answered, 1 when
/// not. Daemon mode never returns.
int run(const std::vector<std::string> &args);

} // namespace invocation
