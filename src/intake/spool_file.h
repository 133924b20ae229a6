// The spool file: where the rewritten message waits between intake and
// delivery. It is created once, written, rewound and sent through one
// handle, never opened again by name.
#pragma once

#include <cstdio>
#include <string>

namespace intake {

inline constexpr const char *kDefaultWorkDirectory = "/tmp";

struct SpoolFile {
  std::string name;          ///< the name last tried, on failure too
  std::FILE *file = nullptr; ///< open for reading and writing; nullptr when creation failed
};

/// The two names tried, in order, in `work_directory`: "tidewharf" with six
/// random letters or digits, then "tidewharf." with the process id.
std::string spool_template_name(const std::string &work_directory, const std::string &letters);
std::string spool_fallback_name(const std::string &work_directory, int process_id);

/// Creates the spool file privately (exclusively, owner only) in
/// `work_directory` (g_work), or in "/tmp", created if missing, when that is
/// empty. Writes the debug entry for the name.
SpoolFile create_spool_file(const std::string &work_directory);

/// Removes the spool file and closes it.
void remove_spool_file(SpoolFile &spool);

/// The bytes of the message in `file`, a spool file at its start, where it
/// is left; -1 when they cannot be told.
long long spool_size(std::FILE *file);

} // namespace intake
