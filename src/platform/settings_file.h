// quillrun.ini and the secret files it names, at the level of the operating
// system. Like the mail server's configuration (named_file.h) they are
// opened without ever waiting (a FIFO or device in their place would hold
// the run for ever), and only a regular file is read. On Windows every path
// here is UTF-8 (quillrun.ini's values are text, and Notepad saves UTF-8);
// one that is not valid UTF-8 is taken in the ANSI code page.
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

/// Who besides the owner may reach a secret file.
enum class Exposure { owner_only, read_by_others, written_by_others };

struct FileText {
  std::string text; ///< the whole file; empty unless read
  /// Why it was not read, in words ("No such file or directory"); empty when read.
  std::string error;
  bool missing = false; ///< nothing exists at that path
  /// read_secret_file only: unless owner_only, the file is not read.
  Exposure exposure = Exposure::owner_only;
};

/// The contents of the regular file `path`.
FileText read_settings_file(const std::string &path);

/// The contents of the regular file `path` when it is closed to others, as
/// the opened file itself tells (never a second look by name). On POSIX
/// others may not read it (S_IROTH) and nobody but its owner may write it
/// (S_IWGRP, S_IWOTH): mode 0640 with the service's group is fine. On
/// Windows its access list may not let Everyone, Users or Authenticated
/// Users read it, and a file without an access list is open to all.
FileText read_secret_file(const std::string &path);

/// The command line that closes `path` to others, for the message that
/// refuses it: "chmod 600 FILE"; on Windows the icacls line that leaves the
/// file readable by the account quillrun runs as alone.
std::string closing_command(const std::string &path);

} // namespace platform
