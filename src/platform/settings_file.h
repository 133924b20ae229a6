// The files quillrun reads by name, at the level of the operating system:
// the mail server's configuration, quillrun.ini and the secret file it names.
// Each is opened once and never waited on (a FIFO or device in its place
// would hold the run for ever), a link is followed (the mail server's
// administrator may have linked its file), and only a regular file is read.
// On Windows every path here is UTF-8 (quillrun.ini's values are text, and
// Notepad saves UTF-8); one that is not valid UTF-8 is taken in the ANSI
// code page.
#pragma once

#include <string>

namespace platform {

/// The words for a file that is there but is not a regular one.
inline constexpr const char *kNotARegularFile = "not a regular file";

/// Where quillrun.ini is when the environment names no other file:
/// "/etc/quillrun.ini"; on Windows "quillrun.ini" in the folder of the
/// running executable, however long its path.
std::string default_settings_path();

/// The value of the environment variable `name` (on Windows read as wide
/// text, given as UTF-8); empty when it is not set.
std::string environment_value(const char *name);

/// Who besides the owner may reach a file. On POSIX others may read it
/// (S_IROTH), or someone but its owner may write it (S_IWGRP, S_IWOTH):
/// mode 0640 with the service's group is owner_only. On Windows its access
/// list lets Everyone, Users or Authenticated Users read it; a file without
/// an access list, or whose list cannot be had, is open to all.
enum class Exposure { owner_only, read_by_others, written_by_others };

/// What a file holds: a secret's text is never read once others may reach it.
enum class Contents { settings, secret };

struct FileText {
  std::string text; ///< the whole file; empty unless read
  /// Why it was not read, in words ("No such file or directory"); empty when read.
  std::string error;
  bool missing = false; ///< nothing exists at that path
  /// As the opened file itself tells (never a second look by name); when
  /// not owner_only, a secret's text is left unread.
  Exposure exposure = Exposure::owner_only;
};

/// The regular file `path` and its exposure, from one opening of it.
FileText read_regular_file(const std::string &path, Contents contents);

/// The command line that closes `path` to others, for the message that
/// refuses it: "chmod 600 FILE"; on Windows the icacls line that leaves the
/// file readable by the account quillrun runs as alone.
std::string closing_command(const std::string &path);

} // namespace platform
