#include "main/driver.h"

#include "config/ini.h"
#include "intake/copy_message.h"
#include "intake/spool_file.h"
#include "log/invocation_log.h"
#include "main/address_checks.h"
#include "main/command_line.h"
#include "main/run_modes.h"
#include "main/sender.h"
#include "platform/system.h"
#include "smtp/connection.h"
#include "smtp/delivery.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace invocation {
namespace {

void print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Runs the intake into a new spool file; on success `spool_name` names it.
int take_in_message(CommandLine &line, const std::string &to_value, std::string &spool_name) {
  const RunSettings &settings = line.settings;
  intake::SpoolFile spool = intake::create_spool_file(settings.debug);
  if (spool.file == nullptr) {
    // The name may be someone else's file: it is left alone.
    print("Cannot create temp file (" + spool.name + ")\n");
    return kFailure;
  }
  intake::RewriteOptions options{settings.extract_recipients, settings.ignore_dot, settings.debug,
                                 from_value(settings.sender), to_value};
  platform::use_binary_standard_input();
  switch (intake::copy_message(stdin, spool.file, options, line.recipients)) {
  case intake::CopyOutcome::copied:
    spool_name = spool.name;
    return kSuccess;
  case intake::CopyOutcome::read_failed:
    print("Cannot read message from standard input\n");
    break;
  case intake::CopyOutcome::write_failed:
    print("Cannot write temp file (" + spool.name + ")\n");
    break;
  }
  platform::remove_file(spool.name);
  return kFailure;
}

int deliver_message(CommandLine &line) {
  RunSettings &settings = line.settings;
  if (line.recipients.entries.empty()) settings.extract_recipients = true;
  const std::string to_value = intake::join_recipients(line.recipients);
  settings.sender = completed_sender(settings.sender, smtp::local_host_name,
                                     [] { return config::ini_lookup(config::kDomainKey); });
  if (auto refusal = refusal_of_addresses(settings, line.recipients)) {
    print(*refusal);
    return kFailure;
  }

  std::string spool_name;
  if (take_in_message(line, to_value, spool_name) != kSuccess) return kFailure;

  smtp::DeliveryRequest request{settings.server_host,
                                helo_argument(settings.sender),
                                envelope_sender(settings.sender, settings.envelope_sender_override),
                                &line.recipients.entries,
                                spool_name,
                                settings.debug};
  smtp::DeliveryOutcome outcome = smtp::deliver(request);
  platform::remove_file(spool_name);
  print(outcome.messages);
  std::fputs(outcome.error_stream.c_str(), stderr);
  return outcome.delivered ? kSuccess : kFailure;
}

bool contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

} // namespace

int run(const std::vector<std::string> &args) {
  const std::time_t start = std::time(nullptr);
  smtp::start_sockets();
  const std::string sender = default_sender(std::getenv("USERNAME"));
  logs::append_invocation_record(start, sender, args);

  const std::string program = args.empty() ? std::string() : args.front();
  if (contains(program, "mailq")) {
    print(kQueueReply);
    return kSuccess;
  }
  if (contains(program, "newaliases")) return kSuccess;

  CommandLine line = parse_command_line(args, sender);
  print(line.messages);
  switch (line.mode) {
  case RunMode::queue_reply:
    print(kQueueReply);
    return kSuccess;
  case RunMode::alias_noop:
    return kSuccess;
  case RunMode::help:
    print_help();
    return kSuccess;
  case RunMode::daemon:
    run_fake_daemon();
  case RunMode::delivery:
    break;
  }
  return deliver_message(line);
}

} // namespace invocation
