#include "main/run_modes.h"

#include "log/report.h"
#include "platform/named_file.h"
#include "platform/system.h"

#include <cstdio>
#include <string>

namespace invocation {
namespace {

constexpr const char *kPidFile = "/var/run/quillrun.pid";

constexpr const char *kHelpText =
    "Usage: quillrun \n"
    "\t-host x.x.x.x  (Host to send email to)\n"
    "\t-debug  (write debugging to quillrun.debug)\n"
    "\t-bd\t(pretend to run as a deamon)\n"
    "\t-bq\t(show queuelet queue)\n"
    "\t-bs\t(run like a pipe)\n"
    "\t-bv\t(check server, login, sender and recipients; send nothing)\n"
    "\t-t\t(suppress argument addresses even if in message to fields)\n"
    "\t-i\t(ignore dot stuffing, expect EOF instead)\n"
    "\t-mailfrom bounces@example.com\t(set MAIL FROM envelope)\n"
    "\t-fwebmaster@example.com\t\t(set From header)\n"
    "\t-help\t\t(this message)\n"
    "\t-version\t(this message)\n";

} // namespace

void print_help() {
  logs::report("quillrun version " QUILLRUN_VERSION "\n");
  logs::report(kHelpText);
}

int run_fake_daemon() {
  const int pid = platform::process_id();
  if (std::FILE *file = platform::open_pid_file(kPidFile)) {
    std::fprintf(file, "%d", pid);
    std::fclose(file);
  }
  // Flushed at once, so that a caller reading the output sees the line.
  logs::report("Running as a fake daemon pid = " + std::to_string(pid) + "\n");
  std::fflush(nullptr);
  for (;;) platform::sleep_seconds(60);
}

} // namespace invocation
