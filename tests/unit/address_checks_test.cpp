#include "main/address_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace invocation {
namespace {

TEST(AddressChecks, RefuseLineBreaksAndOverlongAddressesBeforeIntake) {
  const std::string blanks_1994(1994, ' ');
  struct Row {
    const char *name;
    std::string sender = "bob@host.example";
    std::optional<std::string> override_{};
    std::vector<std::string> recipients{};
    std::string full_name{};
    std::string refusal{}; // empty: accepted
  };
  const std::vector<Row> rows = {
      {.name = "sound addresses and name",
       .override_ = "",
       .recipients = {"<a@x>", "<>"},
       .full_name = "Doe, Jos\xc3\xa9 \"~\""},
      {.name = "LF in sender", .sender = "bob@h\nRCPT TO:<x@y>", .refusal = kLineBreak},
      {.name = "CR in sender", .sender = "bob\r@h", .refusal = kLineBreak},
      {.name = "CR LF in override", .override_ = "m@x\r\n", .refusal = kLineBreak},
      {.name = "LF in recipient", .recipients = {"<a@x>", "<b@x\n>"}, .refusal = kLineBreak},
      {.name = "LF in full name", .full_name = "Eve\nBcc: x@y", .refusal = kFullNameLineBreak},
      {.name = "tab in full name", .full_name = "Eve\tAdams", .refusal = kFullNameLineBreak},
      {.name = "DEL in full name", .full_name = "Eve\x7f", .refusal = kFullNameLineBreak},
      {.name = "envelope form of 499", .sender = std::string(495, 's') + "@h"},
      {.name = "envelope form of 500", .sender = std::string(496, 's') + "@h", .refusal = kTooLong},
      {.name = "override envelope form of 500",
       .override_ = std::string(498, 'm'),
       .refusal = kTooLong},
      {.name = "recipient envelope form of 500",
       .recipients = {"<" + std::string(497, 'r') + "@>"},
       .refusal = kTooLong},
      {.name = "sender of 999 with a short envelope form",
       .sender = "bob@h " + std::string(993, ' ')},
      {.name = "sender of 1000", .sender = "bob@h " + std::string(994, ' '), .refusal = kTooLong},
      {.name = "recipient filling the work buffer", .recipients = {"<a@b" + blanks_1994 + ">"}},
      {.name = "recipient beyond the work buffer",
       .recipients = {"<a@b " + blanks_1994 + ">"},
       .refusal = kTooLong},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    RunSettings settings;
    settings.sender = row.sender;
    settings.envelope_sender_override = row.override_;
    settings.full_name = row.full_name;
    intake::RecipientList recipients{row.recipients};
    auto refusal = refusal_of_addresses(settings, recipients);
    EXPECT_EQ(refusal.value_or(""), row.refusal);
  }
}

} // namespace
} // namespace invocation
