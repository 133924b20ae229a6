#include "log/debug_log.h"

#include "log/log_folder.h"
#include "platform/named_file.h"

#include <cstdio>
#include <string>

namespace logs {
namespace {

bool debugging = false;

} // namespace

void set_debug_mode(bool on) { debugging = on; }

bool debug_mode() { return debugging; }

void debug_log(std::string_view text) {
  if (!debugging) return;
  std::FILE *file = platform::open_log_file(log_path(kDebugLogName).c_str());
  if (file == nullptr) return;
  const std::string lines = platform::log_lines(text);
  std::fwrite(lines.data(), 1, lines.size(), file);
  std::fclose(file);
}

} // namespace logs
