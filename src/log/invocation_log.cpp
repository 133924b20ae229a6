#include "log/invocation_log.h"

#include "log/log_folder.h"
#include "platform/named_file.h"
#include "text/ascii.h"

#include <cstdio>

namespace logs {
namespace {

void append_escaped(std::string_view text, std::string &record) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      record += "\\r";
    } else if (c == '\n') {
      record += "\\n";
    } else if (ascii::is_control(c)) {
      record += "\\x";
      record += kHex[byte >> 4];
      record += kHex[byte & 0xF];
    } else {
      record += c;
    }
  }
}

} // namespace

std::string escaped(std::string_view text) {
  std::string shown;
  append_escaped(text, shown);
  return shown;
}

std::string invocation_record(std::string_view ctime_text, std::string_view default_sender,
                              const std::vector<std::string> &args) {
  std::string record(ctime_text);
  record += ' ';
  append_escaped(default_sender, record);
  record += ' ';
  for (const std::string &arg : args) {
    append_escaped(arg, record);
    record += ' ';
  }
  record += '\n';
  return record;
}

void append_record(const std::string &path, std::string_view record) {
  std::FILE *file = platform::open_log_file(path.c_str());
  if (file == nullptr) return;
  // Unbuffered, fwrite hands the whole to one write(); through the stream's
  // buffer a record past its size would go in two, and another run's
  // record could come between them.
  std::setvbuf(file, nullptr, _IONBF, 0);
  const std::string lines = platform::log_lines(record);
  std::fwrite(lines.data(), 1, lines.size(), file);
  std::fclose(file);
}

void append_invocation_record(std::time_t start, std::string_view default_sender,
                              const std::vector<std::string> &args) {
  const char *ctime_text = std::ctime(&start);
  append_record(log_path(kInvocationLogName),
                invocation_record(ctime_text != nullptr ? ctime_text : "\n", default_sender, args));
}

} // namespace logs
