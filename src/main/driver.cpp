#include "main/driver.h"

#include "intake/address.h"
#include "intake/copy_message.h"
#include "intake/from_line.h"
#include "intake/sender.h"
#include "intake/spool_file.h"
#include "io/block_reader.h"
#include "log/debug_log.h"
#include "log/invocation_log.h"
#include "log/log_folder.h"
#include "log/outcome_log.h"
#include "log/report.h"
#include "main/address_checks.h"
#include "main/command_line.h"
#include "main/run_modes.h"
#include "main/surroundings.h"
#include "platform/private_file.h"
#include "platform/system.h"
#include "smtp/connection.h"
#include "smtp/delivery.h"
#include "smtp/verification.h"
#include "smtp_server/session.h"

#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>

namespace invocation {
namespace {

constexpr const char *kOutOfMemory = "Out of memory\n";

// Wherever an allocation fails, the run ends the same way: the message, the
// spool file removed, status 1.
[[noreturn]] void out_of_memory() {
  logs::report(kOutOfMemory);
  platform::abandon_run();
}

// Copies standard input into the spool file; false, after its message, when
// the spool file holds no whole message.
bool take_in_message(CommandLine &line, const std::string &to_value, const intake::SpoolFile &spool,
                     bool *eight_bit) {
  const RunSettings &settings = line.settings;
  intake::RewriteOptions options{
      settings.extract_recipients, settings.ignore_dot,
      intake::named_from_value(settings.full_name, intake::from_value(settings.sender)), to_value};
  platform::use_binary_standard_input();
  io::BlockReader input{platform::read_standard_input};
  switch (intake::copy_message(input, spool.file, options, line.recipients, eight_bit)) {
  case intake::CopyOutcome::copied:
    // A caller that reads on finds standard input just after the "." line.
    platform::unread_standard_input(io::read_ahead(input));
    return true;
  case intake::CopyOutcome::read_failed:
    logs::report("Cannot read message from standard input\n");
    return false;
  case intake::CopyOutcome::write_failed:
    logs::report("Cannot write temp file (" + spool.name + ")\n");
    return false;
  case intake::CopyOutcome::header_line_too_long:
    logs::report(intake::kHeaderLineTooLong);
    return false;
  }
  return false;
}

std::vector<std::string> envelope_forms(const intake::RecipientList &list) {
  std::vector<std::string> forms;
  forms.reserve(list.entries.size());
  for (const std::string &entry : list.entries) forms.push_back(intake::envelope_address(entry));
  return forms;
}

// What a delivery and "-bv" settle before they connect: the sender
// completed, every address sound, and quillrun.ini's submission with its
// secret. Nothing, after its message, when the run ends here.
std::optional<smtp::Submission> checked_submission(Surroundings &around, CommandLine &line) {
  RunSettings &settings = line.settings;
  settings.sender = completed_sender(around, settings.sender);
  if (auto refusal = refusal_of_addresses(settings, line.recipients)) {
    logs::report(*refusal);
    return std::nullopt;
  }
  SubmissionSetup setup = submission_setup(around);
  if (setup.unusable.fault != smtp::Fault::none) {
    logs::report("-ERR " + setup.unusable.detail + "\n");
    return std::nullopt;
  }
  return std::move(setup.submission);
}

std::vector<logs::RecipientVerdict> verdicts_of(const std::vector<std::string> &recipients,
                                                const std::vector<std::string> &replies) {
  std::vector<logs::RecipientVerdict> verdicts;
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    verdicts.push_back({recipients[i], i < replies.size() ? replies[i] : std::string()});
  }
  return verdicts;
}

// The delivery run after its settings: the message taken in and handed
// over, what became of it noted in `outcome`.
int hand_over(CommandLine &line, Surroundings &around, logs::MessageOutcome &outcome) {
  RunSettings &settings = line.settings;
  if (line.recipients.entries.empty()) settings.extract_recipients = true;
  const std::string to_value = intake::join_recipients(line.recipients);
  std::optional<smtp::Submission> submission = checked_submission(around, line);
  outcome.sender = intake::envelope_sender(settings.sender, settings.envelope_sender_override);
  if (!submission) return kFailure;

  intake::SpoolFile spool = intake::create_spool_file(around.mail_server.work_directory);
  if (spool.file == nullptr) {
    // The name may be someone else's file: it is left alone.
    logs::report("Cannot create temp file (" + spool.name + ")\n");
    return kFailure;
  }
  bool delivered = false;
  bool eight_bit = false;
  if (take_in_message(line, to_value, spool, smtp::extended(*submission) ? &eight_bit : nullptr)) {
    const std::vector<std::string> recipients = envelope_forms(line.recipients);
    outcome.server = server_host(around, settings);
    outcome.port = server_port(around);
    outcome.user = submission->user;
    outcome.size = intake::spool_size(spool.file);
    const smtp::DeliveryRequest request{.server_host = outcome.server,
                                        .port = outcome.port,
                                        .helo_argument = intake::helo_argument(settings.sender),
                                        .envelope_sender = outcome.sender,
                                        .recipients = &recipients,
                                        .spool = spool.file,
                                        .spool_name = spool.name,
                                        .eight_bit = eight_bit,
                                        .submission = std::move(*submission)};
    smtp::Client client;
    smtp::Handover handover = smtp::deliver(client, request);
    delivered = handover.delivered;
    if (client.tls) outcome.tls = platform::protocol_name(client.tls->version);
    outcome.recipients = verdicts_of(recipients, handover.verdicts);
    outcome.final_reply = std::move(handover.final_reply);
  }
  intake::remove_spool_file(spool);
  return delivered ? kSuccess : kFailure;
}

int deliver_message(CommandLine &line, config::IniRead settings_file) {
  platform::end_run_on_interrupt();
  Surroundings around{.quillrun_ini = std::move(settings_file), .known_host_name = {}};
  logs::MessageOutcome outcome;
  outcome.status = hand_over(line, around, outcome);
  const std::string &log_file = around.quillrun_ini.ini.log_file;
  if (!log_file.empty()) {
    // A run that ended before connecting names the server it would have used.
    if (outcome.server.empty()) outcome.server = server_host(around, line.settings);
    outcome.port = server_port(around);
    outcome.time = std::time(nullptr);
    if (outcome.status != kSuccess) outcome.failure = logs::last_report();
    logs::append_outcome(log_file, outcome);
  }
  return outcome.status;
}

// "-bv": the same connection as a delivery's, standard input never read.
int verify_addresses(CommandLine &line, config::IniRead settings_file) {
  platform::end_run_on_interrupt();
  Surroundings around{.quillrun_ini = std::move(settings_file), .known_host_name = {}};
  std::optional<smtp::Submission> submission = checked_submission(around, line);
  if (!submission) return kFailure;
  const RunSettings &settings = line.settings;
  const std::vector<std::string> recipients = envelope_forms(line.recipients);
  const smtp::VerificationRequest request{.server_host = server_host(around, settings),
                                          .port = server_port(around),
                                          .helo_argument = intake::helo_argument(settings.sender),
                                          .envelope_sender = intake::envelope_sender(
                                              settings.sender, settings.envelope_sender_override),
                                          .recipients = &recipients,
                                          .submission = std::move(*submission),
                                          .now = std::time(nullptr)};
  smtp::Client client;
  return smtp::verify(client, request) ? kSuccess : kFailure;
}

int run_smtp_session(const RunSettings &settings, config::IniRead settings_file) {
  // Standard output is the session's; what would be printed goes to the
  // debug log, and nothing at all to standard error.
  logs::send_reports_to_debug_log();
  platform::end_run_on_interrupt();
  Surroundings around{.quillrun_ini = std::move(settings_file), .known_host_name = {}};
  SubmissionSetup setup = submission_setup(around);
  smtp_server::SessionSettings session{.server_host = server_host(around, settings),
                                       .port = server_port(around),
                                       .host_name = host_name(around),
                                       .sender = completed_sender(around, settings.sender),
                                       .work_directory = around.mail_server.work_directory,
                                       .submission = std::move(setup.submission),
                                       .unusable = std::move(setup.unusable),
                                       .refusal = {},
                                       .log_file = around.quillrun_ini.ini.log_file};
  RunSettings checked = settings;
  checked.sender = session.sender;
  if (auto refusal = refusal_of_addresses(checked, {})) {
    session.refusal = std::string(refusal->substr(0, refusal->size() - 1));
  }
  return smtp_server::serve_session(session) ? kSuccess : kFailure;
}

bool contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

} // namespace

int run(const std::vector<std::string> &args) {
  std::set_new_handler(out_of_memory);
  const std::time_t start = std::time(nullptr);
  smtp::start_sockets();
  const std::string sender = intake::default_sender(std::getenv("USERNAME"));
  // quillrun.ini first: it may say where the logs go. Settings that cannot
  // be used say nothing, and leave them where they always were.
  config::IniRead settings_file = config::read_quillrun_ini();
  logs::set_log_folder(settings_file.ini.log_directory);
  logs::append_invocation_record(start, sender, args);

  const std::string program = args.empty() ? std::string() : args.front();
  if (contains(program, "mailq")) {
    logs::report(kQueueReply);
    return kSuccess;
  }
  if (contains(program, "newaliases")) return kSuccess;

  CommandLine line = parse_command_line(args, sender);
  logs::set_debug_mode(line.settings.debug);
  // Recipient arguments mean nothing to a session, nor do their messages.
  if (line.mode == RunMode::smtp_session) {
    return run_smtp_session(line.settings, std::move(settings_file));
  }
  logs::remark(line.messages);
  switch (line.mode) {
  case RunMode::queue_reply:
    logs::report(kQueueReply);
    return kSuccess;
  case RunMode::alias_noop:
    return kSuccess;
  case RunMode::help:
    print_help();
    return kSuccess;
  case RunMode::daemon:
    return run_fake_daemon();
  case RunMode::verify:
    return verify_addresses(line, std::move(settings_file));
  case RunMode::smtp_session:
  case RunMode::delivery:
    break;
  }
  return deliver_message(line, std::move(settings_file));
}

} // namespace invocation
