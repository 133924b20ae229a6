#include "log/debug_log.h"

#include "platform/named_file.h"

#include <cstdio>

namespace logs {
namespace {

bool debugging = false;

} // namespace

void set_debug_mode(bool on) { debugging = on; }

bool debug_mode() { return debugging; }

void debug_log(std::string_view text) {
  if (!debugging) return;
  std::FILE *file = platform::open_log_file(kDebugLogName);
  if (file == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

} // namespace logs
