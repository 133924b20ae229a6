#include "config/secret.h"

#include "config/file_faults.h"
#include "platform/command_output.h"
#include "platform/settings_file.h"
#include "text/utf8.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace config {
namespace {

constexpr const char *kLongerReason = "longer than 16 KiB";

SecretRead refused(std::string reason) { return {{}, std::move(reason)}; }

// `text` up to its first LF, without the CRs that end it.
std::string first_line(std::string_view text) {
  text = text.substr(0, std::min(text.find('\n'), text.size()));
  while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return std::string(text);
}

SecretRead from_file(const std::string &path) {
  const platform::FileText file = platform::read_regular_file(path, platform::Contents::secret);
  if (!file.error.empty()) return refused("cannot read " + path + " (" + file.error + ")");
  std::string fault = exposure_fault(file.exposure, path);
  if (fault.empty() && file.standing != platform::Standing::trusted) {
    fault = path + " " + standing_fault(file, path);
  }
  if (!fault.empty()) return refused(fault);
  // Read one byte past the longest secret and any byte order mark before
  // it: a longer first line is told below, and what follows the first line
  // may be as long as it likes.
  std::string line = first_line(utf8::without_byte_order_mark(file.text));
  if (line.empty()) return refused("the first line of " + path + " is empty");
  return {line, {}};
}

SecretRead from_command(const std::string &command) {
  const platform::CommandRun run = platform::run_command(command, kSecretCommandMs);
  if (!run.error.empty()) return refused("password_command could not be run (" + run.error + ")");
  if (run.timed_out) {
    return refused("password_command took longer than " + std::to_string(kSecretCommandMs / 1000) +
                   " seconds");
  }
  if (run.signal != 0) {
    return refused("password_command failed (signal " + std::to_string(run.signal) + ")");
  }
  if (run.exit_status != 0) {
    return refused("password_command failed (exit status " + std::to_string(run.exit_status) + ")");
  }
  std::string line = first_line(run.first_line);
  if (line.empty()) return refused("password_command gave an empty line");
  return {line, {}};
}

// The `password` of quillrun.ini, which must then have been closed to others
// itself when it was read.
SecretRead from_settings(const QuillrunIni &ini) {
  std::string fault = exposure_fault(ini.exposure, ini.path);
  if (!fault.empty()) return refused(fault);
  return {ini.secret_setting, {}};
}

} // namespace

SecretRead read_secret(const QuillrunIni &ini) {
  SecretRead read = refused("no password_file, password_command or password in " + ini.path);
  switch (ini.secret_source) {
  case SecretSource::file:
    read = from_file(ini.secret_setting);
    break;
  case SecretSource::command:
    read = from_command(ini.secret_setting);
    break;
  case SecretSource::inline_text:
    read = from_settings(ini);
    break;
  case SecretSource::none:
    break;
  }
  if (read.secret.size() > platform::kSecretLimit) return refused(kLongerReason);
  return read;
}

} // namespace config
