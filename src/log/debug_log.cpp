#include "log/debug_log.h"

#include "platform/named_file.h"

#include <cstdio>

namespace logs {

void debug_log(std::string_view text) {
  std::FILE *file = platform::open_log_file(kDebugLogName);
  if (file == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

} // namespace logs
