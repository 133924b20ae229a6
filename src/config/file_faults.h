// The words that refuse quillrun.ini or a secret file for who may reach
// it, each with the command line that mends it.
#pragma once

#include "platform/settings_file.h"

#include <string>

namespace config {

/// Empty when a file at `path`, so exposed, may hold a secret, else why
/// not: "PATH may be read by others (CMD)", "PATH may be written by others
/// (CMD)", CMD being platform::closing_command.
std::string exposure_fault(platform::Exposure exposure, const std::string &path);

/// Empty when `file`, read from `path`, is trusted, else why not, to follow
/// the file's name: "is a link another user made (CMD)", "belongs to another
/// user (CMD)", "may be written by others (CMD)", "is in a folder of another
/// user's (CMD)", "is in a folder others may write (CMD)", CMD being
/// platform::mending_command.
std::string standing_fault(const platform::FileText &file, const std::string &path);

} // namespace config
