#include "config/file_faults.h"

namespace config {
namespace {

using platform::Standing;

std::string standing_words(Standing standing) {
  switch (standing) {
  case Standing::foreign_link:
    return "is a link another user made";
  case Standing::foreign_owner:
    return "belongs to another user";
  case Standing::written_by_others:
    return "may be written by others";
  case Standing::foreign_folder:
    return "is in a folder of another user's";
  case Standing::open_folder:
    return "is in a folder others may write";
  case Standing::trusted:
    break;
  }
  return {};
}

} // namespace

std::string exposure_fault(platform::Exposure exposure, const std::string &path) {
  switch (exposure) {
  case platform::Exposure::read_by_others:
    return path + " may be read by others (" + platform::closing_command(path) + ")";
  case platform::Exposure::written_by_others:
    return path + " may be written by others (" + platform::closing_command(path) + ")";
  case platform::Exposure::owner_only:
    break;
  }
  return {};
}

std::string standing_fault(const platform::FileText &file, const std::string &path) {
  if (file.standing == Standing::trusted) return {};
  return standing_words(file.standing) + " (" + platform::mending_command(path, file) + ")";
}

} // namespace config
