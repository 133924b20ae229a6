#include "log/report.h"

#include <cstdio>
#include <cstring>

namespace logs {

void report(std::string_view message) {
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fflush(stdout);
}

void report_system_error(std::string_view name, int error_number) {
  std::fwrite(name.data(), 1, name.size(), stderr);
  std::fprintf(stderr, ": %s\n", std::strerror(error_number));
}

} // namespace logs
