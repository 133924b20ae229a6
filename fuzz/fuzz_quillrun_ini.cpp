// The quillrun.ini reader: parsing never crashes; a failure names the file
// and a line of it; a success holds at most one secret source, and a second
// one is always refused; without a `tls` line the TLS mode follows the port
// (implicit for 465, STARTTLS for 587, else none).
//
// Input: the file.
#include "config/quillrun_ini.h"
#include "fuzz_support.h"

#include <string>

namespace {

using config::IniRead;
using fuzz::require;
using smtp::TlsMode;

constexpr const char *kPath = "fuzz.ini";

TlsMode tls_for_port(int port) {
  if (port == 465) return TlsMode::implicit;
  if (port == 587) return TlsMode::starttls;
  return TlsMode::off;
}

std::size_t line_count(std::string_view text) {
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  return lines;
}

// The line number N of "fuzz.ini line N: REASON", 0 when there is none.
std::size_t failing_line(const std::string &failure) {
  const std::string prefix = std::string(kPath) + " line ";
  if (!failure.starts_with(prefix)) return 0;
  std::size_t number = 0;
  std::size_t at = prefix.size();
  for (; at < failure.size() && failure[at] >= '0' && failure[at] <= '9'; ++at) {
    number = number * 10 + static_cast<std::size_t>(failure[at] - '0');
  }
  return failure.compare(at, 2, ": ") == 0 ? number : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(fuzz::as_text(data, size));
  const IniRead read = config::parse_quillrun_ini(text, kPath);
  require(read.ini.found && read.ini.path == kPath, "the file is the one given");

  if (!read.failure.empty()) {
    const std::size_t line = failing_line(read.failure);
    require(line >= 1 && line <= line_count(text), "a failure names the file and a line of it");
    require(read.failure.find('\n') == std::string::npos, "a failure is one line");
    return 0;
  }

  require(read.ini.port >= 0 && read.ini.port <= 65535, "a port is 1 to 65535, or not set");
  require((read.ini.secret_source == config::SecretSource::none) == read.ini.secret_setting.empty(),
          "a secret source has its setting");
  const IniRead second = config::parse_quillrun_ini(text + "\npassword x\n", kPath);
  require(second.failure.empty() == (read.ini.secret_source == config::SecretSource::none),
          "a second secret source is refused");

  // A `tls` line added at the end is refused exactly when the file had one.
  const IniRead with_tls = config::parse_quillrun_ini(text + "\ntls off\n", kPath);
  if (with_tls.failure.empty()) {
    require(read.ini.submission.tls == tls_for_port(read.ini.port), "tls follows the port");
    require(with_tls.ini.submission.tls == TlsMode::off, "the tls given wins over the port");
  }
  return 0;
}
