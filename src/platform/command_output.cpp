#include "platform/command_output.h"

namespace platform {

void take_output(FirstLine &line, std::string_view block) {
  if (line.ended) return;
  const std::size_t end = block.find('\n');
  block = block.substr(0, end);
  line.text.append(block.substr(0, kMaxFirstLine - line.text.size()));
  line.ended = end != std::string_view::npos || line.text.size() == kMaxFirstLine;
}

} // namespace platform
