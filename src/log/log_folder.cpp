#include "log/log_folder.h"

#include "platform/named_file.h"

#include <utility>

namespace logs {
namespace {

std::string log_folder;

} // namespace

void set_log_folder(std::string folder) { log_folder = std::move(folder); }

std::string log_path(const std::string &name) { return platform::path_in(log_folder, name); }

} // namespace logs
