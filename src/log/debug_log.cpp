#include "log/debug_log.h"

#include <fstream>

namespace logs {

void debug_log(std::string_view text) {
  std::ofstream file(kDebugLogName, std::ios::app);
  file << text;
}

} // namespace logs
