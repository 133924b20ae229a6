// "-bv" over a server in memory: each row a server's answers and the
// submission asked for, then what the check printed, its verdict, and every
// byte the server got. TLS needs a real handshake: the end-to-end rows have it.
#include "smtp/verification.h"

#include "scripted_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace smtp {
namespace {

using unit::kClose;

const std::string kServer = "Server: mail.example port 25, address 127.0.0.1\n";
const std::string kSender = "Sender accepted <me@x.org> (250 ok)\n";
const std::string kHelo = "HELO x.org\r\nMAIL FROM:<me@x.org>\r\n";
const std::string kEhlo = "EHLO x.org\r\n";
const std::string kAuth = "AUTH PLAIN AGFsaWNlAHB3\r\n"; // "\0alice\0pw"
const std::string kEnd = "RSET\r\nQUIT\r\n";
const std::string kOffered = "250-e2e.test\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n";
const std::string kOffers = "Offers: AUTH PLAIN LOGIN, 8BITMIME\n";

struct Row {
  const char *name;
  unit::Script changes; ///< over the default script
  std::string printed;
  bool verified;
  std::string raw;
  std::vector<std::string> recipients = {"<a@b>"};
  std::string user = {}; ///< a login as this user, with the password "pw"
  int refused = 0;       ///< no connection, for this Windows Sockets code
};

std::string loopback() { return std::string("\x7f\x00\x00\x01", 4); }

TEST(Verify, EachFactALineAndEveryStepJudgedAsADeliveryJudgesIt) {
  const std::vector<Row> rows = {
      {"plain dialogue, all accepted",
       {},
       kServer + kSender + "Recipient accepted <a@b> (250 ok)\n",
       true,
       kHelo + "RCPT TO:<a@b>\r\n" + kEnd},
      {"a refused recipient, the next still asked",
       {{"RCPT", {{"550 5.1.1 no such user\r\n"}, {"250 2.1.5 ok\r\n"}}}},
       kServer + kSender +
           "Recipient refused <a@b> (550 5.1.1 no such user)\n"
           "Recipient accepted <c@d> (250 2.1.5 ok)\n",
       false,
       kHelo + "RCPT TO:<a@b>\r\nRCPT TO:<c@d>\r\n" + kEnd,
       {"<a@b>", "<c@d>"}},
      {"RCPT 251 is no acceptance, as in a delivery",
       {{"RCPT", {{"251 will forward\r\n"}}}},
       kServer + kSender + "Recipient refused <a@b> (251 will forward)\n",
       false,
       kHelo + "RCPT TO:<a@b>\r\n" + kEnd},
      {"no recipient: the sender alone", {}, kServer + kSender, true, kHelo + kEnd, {}},
      {"a refused sender: the delivery's words, then QUIT",
       {{"MAIL", {{"553 5.7.1 not yours\r\n"}}}},
       kServer + "Sender refused <me@x.org> (553 5.7.1 not yours)\n" +
           "-ERR Invalid smtp response (553 5.7.1 not yours)\n",
       false,
       kHelo + "QUIT\r\n"},
      // A delivery lets a 400 pass; the check promises the delivery would go.
      {"MAIL answered 400",
       {{"MAIL", {{"400 4.7.0 try later\r\n"}}}},
       kServer + "Sender refused <me@x.org> (400 4.7.0 try later)\n" +
           "-ERR Invalid smtp response (400 4.7.0 try later)\n",
       false,
       kHelo + "QUIT\r\n"},
      {"a control byte of the server's shown as ?",
       {{"RCPT", {{"250 ok\x1b[2J\r\n"}}}},
       kServer + kSender + "Recipient accepted <a@b> (250 ok?[2J)\n",
       true,
       kHelo + "RCPT TO:<a@b>\r\n" + kEnd},
      // A delivery has never told of it; the check must say which step failed.
      {"no reply to MAIL FROM",
       {{"MAIL", {{kClose}}}},
       kServer + "-ERR Unable to read response from server\n",
       false,
       kHelo},
      {"HELO refused",
       {{"HELO", {{"501 bad helo\r\n"}}}},
       kServer + "-ERR Invalid smtp response (501 bad helo)\n",
       false,
       "HELO x.org\r\nQUIT\r\n"},
      {"no connection",
       {},
       "Could not connect to SMTP server mail.example 25 () Connection Refused\n\n",
       false,
       "",
       {"<a@b>"},
       "",
       10061},
      {"EHLO, the login and its mechanism",
       {{"EHLO", {{kOffered}}}, {"AUTH", {{"235 2.7.0 ok\r\n"}}}},
       kServer + kOffers + "Login: PLAIN as alice, accepted\n" + kSender +
           "Recipient accepted <a@b> (250 ok)\n",
       true,
       kEhlo + kAuth + "MAIL FROM:<me@x.org>\r\nRCPT TO:<a@b>\r\n" + kEnd,
       {"<a@b>"},
       "alice"},
      {"a refused login",
       {{"EHLO", {{kOffered}}}, {"AUTH", {{"535 5.7.8 bad credentials\r\n"}}}},
       kServer + kOffers + "Login: PLAIN as alice, refused\n" +
           "-ERR Authentication failed (535 5.7.8 bad credentials)\n",
       false,
       kEhlo + kAuth + "QUIT\r\n",
       {"<a@b>"},
       "alice"},
      {"no login method offered",
       {{"EHLO", {{"250-e2e.test\r\n250 AUTH CRAM-MD5\r\n"}}}},
       kServer + "Offers: AUTH CRAM-MD5\n" +
           "-ERR mail.example offers no login method quillrun can use (CRAM-MD5)\n",
       false,
       kEhlo + "QUIT\r\n",
       {"<a@b>"},
       "alice"},
      {"EHLO refused",
       {{"EHLO", {{"502 5.5.1 no EHLO\r\n"}}}},
       kServer + "-ERR Invalid smtp response (502 5.5.1 no EHLO)\n",
       false,
       kEhlo + "QUIT\r\n",
       {"<a@b>"},
       "alice"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    unit::ScriptedServer server{{unit::script_with(row.changes)}, row.refused};
    server.address = loopback();
    Client client = server.client();
    VerificationRequest request{.server_host = "mail.example",
                                .port = 25,
                                .helo_argument = "x.org",
                                .envelope_sender = "<me@x.org>",
                                .recipients = &row.recipients,
                                .submission = {},
                                .now = 0};
    if (!row.user.empty()) {
      request.submission.user = row.user;
      request.submission.secret = "pw";
    }
    testing::internal::CaptureStdout();
    const bool verified = verify(client, request);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.printed);
    EXPECT_EQ(verified, row.verified);
    EXPECT_EQ(server.raw(), row.raw);
  }
}

} // namespace
} // namespace smtp
