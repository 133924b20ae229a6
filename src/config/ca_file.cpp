#include "config/ca_file.h"

#include "config/file_faults.h"
#include "platform/settings_file.h"

#include <utility>

namespace config {
namespace {

constexpr const char *kLargerReason = "larger than 1 MiB";

} // namespace

std::string read_ca_file(platform::CaFile &ca_file) {
  if (ca_file.path.empty()) return {};
  platform::FileText file =
      platform::read_regular_file(ca_file.path, platform::Contents::certificates);
  std::string reason = standing_fault(file, ca_file.path);
  if (reason.empty() && file.text.size() > platform::kCertificatesLimit) reason = kLargerReason;
  if (!reason.empty()) return ca_file.path + ": " + reason;
  ca_file.pem = std::move(file.text);
  return {};
}

} // namespace config
