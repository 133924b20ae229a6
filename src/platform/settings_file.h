// The files quillrun reads by name, at the level of the operating system:
// the mail server's configuration, quillrun.ini, the secret file and the CA
// file it names, and the token cache, which it also writes.
// Each is opened once and never waited on (a FIFO or device in its place
// would hold the run for ever), and only a regular file is read.
//
// The mail server's file is read whole, through any link, as its own tools
// read it. quillrun.ini and the secret file may run commands or log in as
// the caller, and the CA file decides which server the login goes to, so
// they are judged on the opened file itself: whoever may have written them
// must be the caller or an administrator, and a link in their place is
// followed only when the caller or an administrator made it.
// On Linux the folder each name is looked up in counts too (it is opened
// first and the name looked up in that very folder); the folders above it
// are not judged.
//
// On Windows every path here is UTF-8 (quillrun.ini's values are text, and
// Notepad saves UTF-8); one that is not valid UTF-8 is taken in the ANSI
// code page.
#pragma once

#include "text/utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
/// list lets Everyone, Users or Authenticated Users read it, or write it; a
/// file without an access list, or whose list cannot be had, is open to all.
enum class Exposure { owner_only, read_by_others, written_by_others };

/// Whose file it is, with what in it, which decides how it is judged and how
/// much of it is read.
enum class Contents {
  mail_server_settings, ///< the mail server's file: not judged, read whole
  settings,             ///< quillrun.ini: judged, at most kSettingsLimit bytes
  secret,               ///< a secret file: judged, and unread once others may reach it
  token_cache,          ///< the token cache: as a secret, at most kSettingsLimit bytes
  certificates,         ///< the tls_ca_file: judged as settings, at most kCertificatesLimit bytes
};

/// The most quillrun.ini may hold.
inline constexpr std::size_t kSettingsLimit = 64 * 1024;
/// The most the tls_ca_file may hold: room for a system's whole bundle of
/// roots (about 200 KiB), should it be named.
inline constexpr std::size_t kCertificatesLimit = 1024 * 1024;
/// The most a secret may hold, from a file or any other source: room for
/// any provider's access token.
inline constexpr std::size_t kSecretLimit = 16 * 1024;

/// How many bytes of a file of `contents` are read: one more than its limit,
/// to tell a longer file, and for a secret a byte order mark before it,
/// which is no part of it; the mail server's file whole.
inline constexpr std::size_t read_limit(Contents contents) {
  if (contents == Contents::settings || contents == Contents::token_cache) {
    return kSettingsLimit + 1;
  }
  if (contents == Contents::secret) return utf8::kByteOrderMark.size() + kSecretLimit + 1;
  if (contents == Contents::certificates) return kCertificatesLimit + 1;
  return SIZE_MAX;
}

/// Why quillrun.ini, a secret file or the CA file may not be trusted:
/// someone but the caller or an administrator (root; on Windows SYSTEM or
/// Administrators) may have put its text there. The first fault found is told.
enum class Standing {
  trusted,
  foreign_link,      ///< the name is a link another user made; it is not followed
  foreign_owner,     ///< the file belongs to another user
  written_by_others, ///< its group or others may write it (on Windows, its access list)
  foreign_folder,    ///< Linux: its folder belongs to another user
  open_folder,       ///< Linux: others may write its folder, which has no sticky bit
};

struct FileText {
  /// The file, up to one byte more than the limit of its Contents, so that
  /// a longer file shows as a longer text; empty unless read.
  std::string text;
  /// Why it was not read, in words ("No such file or directory"); empty when read.
  std::string error;
  bool missing = false; ///< nothing exists at that path
  /// The caller may not open it (EACCES; on Windows ERROR_ACCESS_DENIED).
  bool denied = false;
  /// As the opened file itself tells (never a second look by name); when
  /// not owner_only, a secret's text is left unread.
  Exposure exposure = Exposure::owner_only;
  /// Judged on the opened file, its folder and any link to it; when not
  /// trusted, the text is left unread. Always trusted for the mail server's file.
  Standing standing = Standing::trusted;
  /// The folder that made the standing foreign_folder or open_folder, as
  /// the path (or the link that led there) names it.
  std::string folder;
};

/// Whether a file of `contents` holds a secret: then its text is left
/// unread once others may reach it.
inline constexpr bool holds_secret(Contents contents) {
  return contents == Contents::secret || contents == Contents::token_cache;
}

/// The regular file `path`, its exposure and standing, from one opening of it.
FileText read_regular_file(const std::string &path, Contents contents);

/// Puts `text` in place of the file `path` whole, so that a reader at any
/// moment finds the old file or the new one, never a part: written to a new
/// file in the same folder, readable and writable by the caller alone (on
/// Windows an access list of the caller alone), flushed to the disk, then
/// renamed over `path` (on Windows MoveFileEx). A link at `path` is
/// replaced, its target never written. Empty on success, else why not in
/// words, with nothing left behind.
std::string replace_private_file(const std::string &path, std::string_view text);

/// The command line that closes `path` to others, for the message that
/// refuses it: "chmod 600 FILE, or chmod 640 FILE with the web server's
/// group"; on Windows the icacls line that leaves the
/// file readable by the account quillrun runs as alone.
std::string closing_command(const std::string &path);

/// The command line that mends the standing of `file` (read from `path`),
/// for the message that refuses it: "chmod go-w FILE", "chown CALLER FILE",
/// "rm FILE" for another's link, "chmod go-w DIR, or chmod +t DIR" and
/// "chown CALLER DIR" for its folder; on Windows the icacls line that removes
/// the grants to write or that makes the caller the owner, or "del "FILE"".
/// Empty for a trusted file.
std::string mending_command(const std::string &path, const FileText &file);

} // namespace platform
