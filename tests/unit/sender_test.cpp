#include "intake/sender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace intake {
namespace {

TEST(DefaultSender, IsTheUserNameOrWindowsCutTo100) {
  EXPECT_EQ(default_sender(nullptr), "windows");
  EXPECT_EQ(default_sender(""), "");
  EXPECT_EQ(default_sender(std::string(150, 'u').c_str()), std::string(100, 'u'));
}

TEST(CompletedSender, AppendsTheDottedHostElseTheConfiguredDomainElseTheBareHost) {
  struct Row {
    std::string sender;
    std::vector<std::string> host_answers; // one per call, in order
    std::string domain;
    std::string completed; // then how often each was asked
    std::size_t host_calls;
    int domain_calls;
  };
  const std::vector<Row> rows = {
      {"bob", {"mx.example", "mx.example"}, "conf.example", "bob@mx.example", 2, 0},
      {"bob", {"first.example", "second.example"}, "", "bob@second.example", 2, 0},
      {"bob", {"MX.Example", "MX.Example"}, "", "bob@MX.Example", 2, 0},
      {"bob", {"mx"}, "conf.example", "bob@conf.example", 1, 1},
      {"bob", {"mx", "mx"}, "", "bob@mx", 2, 1},
      {"", {"mx.example", "mx.example"}, "", "@mx.example", 2, 0},
      {"bob@x.example", {}, "conf.example", "bob@x.example", 0, 0},
      {"\"a@b\" bob", {}, "", "\"a@b\" bob", 0, 0},
      {"bob@", {}, "", "bob@", 0, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.completed);
    std::size_t host_calls = 0;
    int domain_calls = 0;
    auto host = [&] { return row.host_answers.at(host_calls++); };
    auto domain = [&] { return ++domain_calls, row.domain; };
    EXPECT_EQ(completed_sender(row.sender, host, domain), row.completed);
    EXPECT_EQ(host_calls, row.host_calls);
    EXPECT_EQ(domain_calls, row.domain_calls);
  }
}

TEST(SenderValues, FromValueEnvelopeSenderAndHeloArgument) {
  struct Row {
    std::string sender, from, helo;
  };
  const std::vector<Row> rows = {
      {"bob@host.example", "<bob@host.example>", "host.example"},
      {"<bob@host.example>", "<bob@host.example>", "host.example"},
      {"Bob Smith <bob@host.example>", "<bob@host.example>", "host.example"},
      {"bob@", "<bob@>", ""},
      {"bob@>", "<bob@>>", ""},
      {"bob@host.example (Bob)", "<bob@host.example>", "host.example (Bob)"},
      {"a@b@c", "<a@b@c>", "b@c"},
      {"<a@b>c>", "<a@b>c>", "b"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.sender);
    EXPECT_EQ(from_value(row.sender), row.from);
    EXPECT_EQ(envelope_sender(row.sender, std::nullopt), row.from);
    EXPECT_EQ(helo_argument(row.sender), row.helo);
  }
}

TEST(SenderValues, AnOverrideEvenEmptyReplacesOnlyTheEnvelopeSender) {
  EXPECT_EQ(envelope_sender("bob@host.example", std::string()), "<>");
  EXPECT_EQ(envelope_sender("bob@host.example", std::string("M <m@x.example>")), "<m@x.example>");
}

} // namespace
} // namespace intake
