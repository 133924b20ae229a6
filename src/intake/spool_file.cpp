#include "intake/spool_file.h"

#include "io/block_reader.h"
#include "log/debug_log.h"
#include "platform/private_file.h"
#include "platform/random_letters.h"
#include "platform/system.h"

namespace intake {

std::string spool_template_name(const std::string &work_directory, const std::string &letters) {
  return work_directory + "/tidewharf" + letters;
}

std::string spool_fallback_name(const std::string &work_directory, int process_id) {
  return work_directory + "/tidewharf." + std::to_string(process_id);
}

SpoolFile create_spool_file(const std::string &work_directory) {
  std::string directory = work_directory;
  if (directory.empty()) {
    platform::make_directory(kDefaultWorkDirectory);
    directory = kDefaultWorkDirectory;
  }
  SpoolFile spool{spool_template_name(directory, platform::random_letters(6))};
  spool.file = platform::create_private_file(spool.name);
  if (spool.file == nullptr) {
    spool.name = spool_fallback_name(directory, platform::process_id());
    spool.file = platform::create_private_file(spool.name);
  }
  // Whole blocks reach the disk, not stdio's default few kilobytes.
  if (spool.file != nullptr) std::setvbuf(spool.file, nullptr, _IOFBF, io::kBlockSize);
  logs::debug_log("Using temp file (" + spool.name + ") \n");
  return spool;
}

void remove_spool_file(SpoolFile &spool) {
  platform::remove_private_file(spool.name, spool.file);
  spool.file = nullptr;
}

long long spool_size(std::FILE *file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long long size = std::ftell(file);
  return std::fseek(file, 0, SEEK_SET) == 0 ? size : -1;
}

} // namespace intake
