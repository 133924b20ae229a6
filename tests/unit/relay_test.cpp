// The "-bs" relay over a server in memory: the client of the session gets
// the server's own reply, or quillrun's own 451 when quillrun failed; after
// its own failure the next message opens a new connection and goes.
#include "smtp_server/relay.h"

#include "smtp/auth.h"

#include "scripted_server.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace smtp_server {
namespace {

using unit::kClose;

const std::string kOpening = "HELO example.net\r\nMAIL FROM:<s@example.net>\r\n";
const std::string kRcpt = "RCPT TO:<a@b>\r\n";
const std::string kData = "DATA\r\n";
const std::string kText = "Subject: s\r\n\r\nhi\r\n.\r\n";
const std::string kQuit = "QUIT\r\n";

enum class Step { mail, rcpt, data };

struct Row {
  const char *name;
  unit::Script changes; ///< over the default script, for the first connection
  std::vector<Step> steps;
  std::vector<std::string> replies; ///< one a step
  std::string raw;                  ///< what the first connection's server got
  std::string text = "Subject: s\n\nhi\n";
};

Relayed relayed(Relay &relay, Step step, const std::string &text) {
  switch (step) {
  case Step::mail:
    return relay_mail(relay, "<s@example.net>", "example.net", false, false);
  case Step::rcpt:
    return relay_rcpt(relay, "<a@b>");
  case Step::data:
    break;
  }
  std::FILE *spool = unit::file_holding(text);
  Relayed message = relay_message(relay, spool, "/tmp/spool");
  std::fclose(spool);
  return message;
}

TEST(Relay, QuillrunsOwnFailureIsA451AndTheNextMessageGoesOnANewConnection) {
  std::string big = "Subject: s\n\n";
  while (big.size() < 200 * 1000) big += std::string(998, 'x') + "\n";
  const std::vector<Row> rows = {
      {"a reply without a code",
       {{"MAIL", {{"hello there\r\n"}}}},
       {Step::mail},
       {"451 4.4.2 Invalid smtp response (hello there)"},
       kOpening},
      {"a reply nobody asked for after MAIL",
       {{"MAIL", {{"250 ok\r\n250 extra\r\n"}}}},
       {Step::mail, Step::rcpt},
       {"250 ok", "451 4.4.2 Unexpected reply from server (250 extra)"},
       kOpening + kQuit},
      {"the server closes after its 354",
       {{"DATA", {{"354 go\r\n", kClose}}}},
       {Step::mail, Step::rcpt, Step::data},
       {"250 ok", "250 ok", "451 4.4.2 Unable to read response from server"},
       kOpening + kRcpt + kData},
      {"a send fails",
       {{"DATA", {{"354 go\r\n", kClose}}}},
       {Step::mail, Step::rcpt, Step::data},
       {"250 ok", "250 ok", "451 4.4.2 Connection lost while sending the message"},
       kOpening + kRcpt + kData,
       big},
      // A server that turns the session down is left with QUIT.
      {"a greeting of 554",
       {{"greeting", {{"554 5.3.2 no service\r\n"}}}},
       {Step::mail},
       {"554 5.3.2 no service"},
       kQuit},
      {"a greeting of 421",
       {{"greeting", {{"421 4.3.2 shutting down\r\n"}}}},
       {Step::mail},
       {"421 4.3.2 shutting down"},
       kQuit},
      {"a refused HELO",
       {{"HELO", {{"550 5.7.1 not you\r\n"}}}},
       {Step::mail},
       {"550 5.7.1 not you"},
       "HELO example.net\r\n" + kQuit},
      {"no greeting",
       {{"greeting", {{kClose}}}},
       {Step::mail},
       {"451 4.4.2 Unable to read welcome from SMTP server"},
       ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    unit::ScriptedServer server{{unit::script_with(row.changes), unit::default_script()}};
    Relay relay{.server_host = "mail.example",
                .port = 25,
                .submission = {},
                .unusable = {},
                .client = server.client(),
                .offered = {}};
    std::vector<std::string> replies;
    for (Step step : row.steps) replies.push_back(relayed(relay, step, row.text).reply);
    EXPECT_EQ(replies, row.replies);
    EXPECT_EQ(server.raw(), row.raw);
    for (Step step : {Step::mail, Step::rcpt, Step::data}) {
      EXPECT_TRUE(positive(relayed(relay, step, "Subject: s\n\nhi\n")));
    }
    end_relay(relay);
    ASSERT_EQ(server.connections.size(), 2u);
    EXPECT_EQ(server.connections.back()->raw, kOpening + kRcpt + kData + kText + kQuit);
  }
}

TEST(Relay, TheOwnCodeSaysWhatFailed) {
  struct CodeRow {
    const char *name;
    smtp::Outcome unusable;
    int refusal;
    std::string reply;
  };
  const std::vector<CodeRow> rows = {
      {"no connection",
       {},
       10061,
       "451 4.4.1 Could not connect to SMTP server mail.example 25 () Connection Refused"},
      {"settings that cannot be used",
       {smtp::Fault::unusable_settings, {}, "/etc/quillrun.ini line 3: unknown key x", 0},
       0,
       "451 4.3.5 /etc/quillrun.ini line 3: unknown key x"},
      {"no secret",
       {smtp::Fault::no_secret, {}, "No password for u: password_command failed", 0},
       0,
       "451 4.7.0 No password for u: password_command failed"},
  };
  for (const CodeRow &row : rows) {
    SCOPED_TRACE(row.name);
    unit::ScriptedServer server{{unit::default_script()}, row.refusal};
    Relay relay{.server_host = "mail.example",
                .port = 25,
                .submission = {},
                .unusable = row.unusable,
                .client = server.client(),
                .offered = {}};
    const Relayed mail = relay_mail(relay, "<s@example.net>", "example.net", false, false);
    EXPECT_EQ(mail.reply, row.reply);
    EXPECT_TRUE(mail.ended);
    EXPECT_EQ(server.raw(), "");
  }
}

TEST(Relay, BodyOf8BitsIsDeclaredWhereTheClientDidAndTheServerOffersIt) {
  struct BodyRow {
    const char *name;
    smtp::Submission submission;
    std::string ehlo;
    bool declared;
    std::string mail;
  };
  const smtp::Submission login{smtp::TlsMode::off, {}, "u", "pw", smtp::AuthMethod::plain, {}};
  const std::string offered = "250-mx\r\n250-8BITMIME\r\n250 AUTH PLAIN\r\n";
  const std::vector<BodyRow> rows = {
      {"declared and offered", login, offered, true, "MAIL FROM:<s@example.net> BODY=8BITMIME\r\n"},
      {"not declared", login, offered, false, "MAIL FROM:<s@example.net>\r\n"},
      {"not offered", login, "250-mx\r\n250 AUTH PLAIN\r\n", true, "MAIL FROM:<s@example.net>\r\n"},
      {"the plain dialogue of HELO", {}, offered, true, "MAIL FROM:<s@example.net>\r\n"},
  };
  for (const BodyRow &row : rows) {
    SCOPED_TRACE(row.name);
    unit::ScriptedServer server{
        {unit::script_with({{"EHLO", {{row.ehlo}}}, {"AUTH", {{"235 ok\r\n"}}}})}};
    server.address = platform::numeric_ipv4("127.0.0.1");
    Relay relay{.server_host = "mail.example",
                .port = 25,
                .submission = row.submission,
                .unusable = {},
                .client = server.client(),
                .offered = {}};
    EXPECT_TRUE(positive(relay_mail(relay, "<s@example.net>", "example.net", false, row.declared)));
    const std::string raw = server.raw();
    EXPECT_EQ(raw.substr(raw.find("MAIL")), row.mail);
  }
}

// A kept token the server refused is renewed once: the session's next
// connection logs in with the renewed one, not the refused one again.
TEST(Relay, ARenewedTokenServesTheSessionsNextConnection) {
  smtp::Submission kept{smtp::TlsMode::off, {}, "u", "kept", smtp::AuthMethod::xoauth2, {}};
  kept.renew_secret = [](std::string &fresh) {
    fresh = "fresh";
    return smtp::Outcome{};
  };
  const unit::Script first = unit::script_with({{"EHLO", {{"250-mx\r\n250 AUTH XOAUTH2\r\n"}}},
                                                {"AUTH", {{"535 5.7.8 no\r\n"}, {"235 ok\r\n"}}},
                                                {"MAIL", {{"hello there\r\n"}}}});
  unit::Script next = first;
  next["AUTH"] = {{"235 ok\r\n"}};
  next["MAIL"] = {{"250 ok\r\n"}};
  unit::ScriptedServer server{{first, next}};
  server.address = platform::numeric_ipv4("127.0.0.1");
  Relay relay{.server_host = "mail.example",
              .port = 25,
              .submission = kept,
              .unusable = {},
              .client = server.client(),
              .offered = {}};
  EXPECT_FALSE(positive(relayed(relay, Step::mail, "")));
  EXPECT_TRUE(positive(relayed(relay, Step::mail, "")));
  ASSERT_EQ(server.connections.size(), 2u);
  EXPECT_EQ(server.connections.back()->raw, "EHLO example.net\r\nAUTH XOAUTH2 " +
                                                smtp::base64("user=u\x01"
                                                             "auth=Bearer fresh\x01\x01") +
                                                "\r\nMAIL FROM:<s@example.net>\r\n");
}

} // namespace
} // namespace smtp_server
