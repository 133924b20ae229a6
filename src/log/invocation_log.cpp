#include "log/invocation_log.h"

#include <fstream>

namespace logs {

std::string invocation_record(std::string_view ctime_text, std::string_view default_sender,
                              const std::vector<std::string> &args) {
  std::string record(ctime_text);
  record += ' ';
  record += default_sender;
  record += ' ';
  for (const std::string &arg : args) {
    record += arg;
    record += ' ';
  }
  record += '\n';
  return record;
}

void append_invocation_record(std::time_t start, std::string_view default_sender,
                              const std::vector<std::string> &args) {
  std::ofstream file(kInvocationLogName, std::ios::app);
  if (!file) return;
  const char *ctime_text = std::ctime(&start);
  file << invocation_record(ctime_text != nullptr ? ctime_text : "\n", default_sender, args);
}

} // namespace logs
