// Where quillrun's logs go: the current directory, as always, or the folder
// quillrun.ini's log_directory names (for PHP the current directory is the
// web site's own).
#pragma once

#include <string>

namespace logs {

/// From now on the logs go to `folder`; empty: the current directory.
void set_log_folder(std::string folder);

/// The path of the log `name` in the log folder.
std::string log_path(const std::string &name);

} // namespace logs
