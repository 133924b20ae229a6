#include "smtp/auth.h"
#include "smtp/client.h"
#include "smtp/fault_text.h"
#include "smtp/submission.h"

#include "loopback.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace smtp {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(SmtpReadReply, KeepsBytesAfterAReplyAndTakesAPartReplyAtClose) {
  unit::LoopbackConnection connection;
  ASSERT_TRUE(connection.server_sends("220 a\r\n250-b\r\n250 c\r\n354 part"));
  connection.server_closes();
  Client client = connection.smtp_client();
  for (const char *expected : {"220 a\r\n", "250-b\r\n250 c\r\n", "354 part"}) {
    std::optional<Reply> reply = read_reply(client, milliseconds(5000));
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->text, expected);
  }
  EXPECT_FALSE(read_reply(client, milliseconds(5000)).has_value());
}

TEST(SmtpReadReply, ASilentServerGivesNoReplyOnceTheLimitHasPassed) {
  unit::LoopbackConnection connection;
  Client client = connection.smtp_client();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(read_reply(client, milliseconds(300)).has_value());
  // It waited (Wine's select may wake a little early).
  EXPECT_GE(Clock::now() - start, milliseconds(200));
}

TEST(SmtpReadReply, AReplyThatNeverEndsEndsAtTheLimitWhileBytesKeepComing) {
  unit::LoopbackConnection connection;
  std::atomic<bool> stop{false};
  std::thread server([&] {
    std::string burst;
    for (int line = 0; line < 6000; ++line) burst += "250-xxxx\r\n";
    while (!stop && connection.server_sends(burst)) {
    }
  });
  Client client = connection.smtp_client();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(read_reply(client, milliseconds(300)).has_value());
  EXPECT_LT(Clock::now() - start, milliseconds(10000));
  stop = true;
  client.stream.reset();
  server.join();
}

// Server replies that nobody asked for, then what the client checks next.
std::string unasked_after(std::string_view replies, std::string_view reply_read_first) {
  unit::LoopbackConnection connection;
  EXPECT_TRUE(connection.server_sends(replies));
  Client client = connection.smtp_client();
  if (!reply_read_first.empty()) {
    std::optional<Reply> reply = read_reply(client, milliseconds(5000));
    EXPECT_TRUE(reply.has_value() && reply->text == reply_read_first);
  }
  // Whatever the server sent has arrived before the check looks.
  std::this_thread::sleep_for(milliseconds(100));
  Outcome noop = command(client, "NOOP\r\n", milliseconds(200)); // never answered
  char sent[16] = {};
  auto got = recv(connection.server, sent, sizeof sent - 1, 0);
  const std::string command_sent(sent, got > 0 ? static_cast<std::size_t>(got) : 0);
  if (noop.fault != Fault::unasked_reply) {
    EXPECT_EQ(command_sent, "NOOP\r\n");
    return "(none)";
  }
  // The command is never sent: QUIT goes instead.
  EXPECT_EQ(command_sent, "QUIT\r\n");
  return noop.detail;
}

TEST(Command, BytesLeftOverOrWaitingAreARefusalToGoOnNeverTheNextReply) {
  EXPECT_EQ(unasked_after("220 a\r\n220 b\r\n", "220 a\r\n"), "220 b");
  EXPECT_EQ(unasked_after("220 a\r\n\r\n", "220 a\r\n"), "");
  EXPECT_EQ(unasked_after("220 a\r\n", "220 a\r\n"), "(none)");
  EXPECT_EQ(unasked_after("250 early\r\nmore", ""), "250 early");
}

// A spool file of `size` bytes of 79-character lines, read on demand.
io::BlockReader text_of(std::size_t size, std::size_t &given) {
  return io::BlockReader{[size, &given](char *buffer, std::size_t capacity) -> long {
    const std::size_t count = std::min(capacity, size - given);
    for (std::size_t at = 0; at < count; ++at) buffer[at] = (given + at) % 80 == 79 ? '\n' : 'm';
    given += count;
    return static_cast<long>(count);
  }};
}

TEST(SendText, AServerThatStopsReadingFailsTheSendAtTheLimit) {
  unit::LoopbackConnection connection; // the server never reads
  Client client = connection.smtp_client();
  client.limits.send = milliseconds(300);
  // The socket buffers on both ends fill first; a later block must fail.
  const std::size_t size = 256u * 1024 * 1024;
  std::size_t given = 0;
  io::BlockReader text = text_of(size, given);
  EXPECT_EQ(send_text(client, text, "spool").fault, Fault::send_failed);
  EXPECT_LT(given, size) << "every send went through";
}

TEST(SendText, AClosedPeerIsASendFailureNotASignal) {
  unit::LoopbackConnection connection;
  connection.server_closes();
  Client client = connection.smtp_client();
  client.limits.send = milliseconds(5000);
  // More than any socket buffer takes, so that a send meets the closed end.
  std::size_t given = 0;
  io::BlockReader text = text_of(16u * 1000 * 1000, given);
  EXPECT_EQ(send_text(client, text, "spool").fault, Fault::send_failed);
}

TEST(SendText, ASpoolFileThatCannotBeReadSendsNoDot) {
  unit::ScriptedServer server{{unit::default_script()}};
  Client client = server.client();
  ASSERT_EQ(open_session(client, "mx", 25, false, {}).fault, Fault::none);
  io::BlockReader text{[](char *, std::size_t) -> long {
    errno = EIO;
    return -1;
  }};
  const Outcome sent = send_text(client, text, "/tmp/spool");
  EXPECT_EQ(sent.fault, Fault::unreadable_text);
  EXPECT_EQ(sent.detail, "/tmp/spool");
  EXPECT_EQ(sent.error, EIO);
  EXPECT_EQ(server.raw(), "");
}

TEST(OpenSubmission, StopsBeforeAnythingGoesThatShouldNot) {
  const std::string ehlo_plain = "250-mx\r\n250 AUTH PLAIN LOGIN\r\n";
  const std::string ehlo_tls = "250-mx\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n";
  const std::string plain = "AUTH PLAIN " + base64(std::string("\0u\0pw", 5)) + "\r\n";
  struct Row {
    const char *name;
    Submission submission;
    bool loopback;
    unit::Script replies; ///< the server's answers after its greeting
    Fault fault;
    std::string sent;
  };
  const Submission login{TlsMode::off, {}, "u", "pw", AuthMethod::offered, {}};
  const Submission starttls{TlsMode::starttls, {}, "u", "pw", AuthMethod::offered, {}};
  Submission xoauth2 = login;
  xoauth2.auth = AuthMethod::xoauth2;
  Submission by_login = login;
  by_login.auth = AuthMethod::login;
  Submission fits = login;
  fits.secret = std::string(369, 'p');
  const std::string fitting = base64(std::string("\0u\0", 3) + fits.secret);
  Submission overlong = login;
  overlong.secret = std::string(372, 'p');
  const std::string too_long = base64(std::string("\0u\0", 3) + overlong.secret);
  Submission long_token = xoauth2;
  long_token.secret = std::string(2500, 't');
  const std::string bearer =
      base64("user=u\x01" + std::string("auth=Bearer ") + long_token.secret + "\x01\x01");
  // A token kept from an earlier run, renewed to "fresh" or not at all.
  Submission kept = xoauth2;
  kept.renew_secret = [](std::string &fresh) {
    fresh = "fresh";
    return Outcome{};
  };
  Submission unrenewable = xoauth2;
  unrenewable.renew_secret = [](std::string &) {
    return Outcome{Fault::no_secret, {}, "Token request to login.test failed: HTTP 500", 0};
  };
  const std::string xoauth2_ehlo = "250-mx\r\n250 AUTH XOAUTH2\r\n";
  const std::string kept_auth =
      "AUTH XOAUTH2 " + base64("user=u\x01" + std::string("auth=Bearer pw\x01\x01")) + "\r\n";
  const std::string fresh_auth =
      "AUTH XOAUTH2 " + base64("user=u\x01" + std::string("auth=Bearer fresh\x01\x01")) + "\r\n";
  const std::vector<Row> rows = {
      {"plain HELO when nothing is asked for",
       {},
       false,
       {{"HELO", {{"250 mx\r\n"}}}},
       Fault::none,
       "HELO me\r\n"},
      {"no login in clear text off loopback",
       login,
       false,
       {},
       Fault::login_without_tls,
       "QUIT\r\n"},
      {"PLAIN to loopback without TLS",
       login,
       true,
       {{"EHLO", {{ehlo_plain}}}, {"AUTH", {{"235 ok\r\n"}}}},
       Fault::none,
       "EHLO me\r\n" + plain},
      {"LOGIN answers each challenge",
       by_login,
       true,
       {{"EHLO", {{ehlo_plain}}},
        {"AUTH", {{"334 VXNlcm5hbWU6\r\n"}}},
        {"dQ==", {{"334 UGFzc3dvcmQ6\r\n"}}},
        {"cHc=", {{"235 ok\r\n"}}}},
       Fault::none,
       "EHLO me\r\nAUTH LOGIN\r\ndQ==\r\ncHc=\r\n"},
      {"a refused login is left with QUIT",
       login,
       true,
       {{"EHLO", {{ehlo_plain}}}, {"AUTH", {{"535 5.7.8 no\r\n"}}}},
       Fault::login_refused,
       "EHLO me\r\n" + plain + "QUIT\r\n"},
      {"an XOAUTH2 error challenge gets the empty answer",
       xoauth2,
       true,
       {{"EHLO", {{"250-mx\r\n250 AUTH XOAUTH2\r\n"}}},
        {"AUTH", {{"334 eyJzdGF0dXMiOiI0MDEifQ==\r\n"}}},
        {"", {{"535 5.7.8 no\r\n"}}}},
       Fault::login_refused,
       "EHLO me\r\nAUTH XOAUTH2 " +
           base64("user=u\x01"
                  "auth=Bearer pw\x01\x01") +
           "\r\n\r\nQUIT\r\n"},
      {"no mechanism quillrun speaks",
       login,
       true,
       {{"EHLO", {{"250-mx\r\n250 AUTH CRAM-MD5\r\n"}}}},
       Fault::no_login_method,
       "EHLO me\r\nQUIT\r\n"},
      {"a refused EHLO",
       login,
       true,
       {{"EHLO", {{"502 no\r\n"}}}},
       Fault::ehlo_refused,
       "EHLO me\r\nQUIT\r\n"},
      {"STARTTLS not offered",
       starttls,
       false,
       {{"EHLO", {{ehlo_plain}}}},
       Fault::no_starttls,
       "EHLO me\r\nQUIT\r\n"},
      // RFC 4954 4: the initial response only in a command line of 512 octets.
      {"PLAIN in a line of 509 octets",
       fits,
       true,
       {{"EHLO", {{ehlo_plain}}}, {"AUTH", {{"235 ok\r\n"}}}},
       Fault::none,
       "EHLO me\r\nAUTH PLAIN " + fitting + "\r\n"},
      {"PLAIN past 512 octets answers the 334",
       overlong,
       true,
       {{"EHLO", {{ehlo_plain}}}, {"AUTH", {{"334 \r\n"}}}, {too_long, {{"235 ok\r\n"}}}},
       Fault::none,
       "EHLO me\r\nAUTH PLAIN\r\n" + too_long + "\r\n"},
      {"a long XOAUTH2 token answers the 334",
       long_token,
       true,
       {{"EHLO", {{"250-mx\r\n250 AUTH XOAUTH2\r\n"}}},
        {"AUTH", {{"334 \r\n"}}},
        {bearer, {{"235 ok\r\n"}}}},
       Fault::none,
       "EHLO me\r\nAUTH XOAUTH2\r\n" + bearer + "\r\n"},
      // RFC 4954 4: AUTH may follow a failed AUTH, once, with a fresh token.
      {"a kept token refused is renewed once and sent again",
       kept,
       true,
       {{"EHLO", {{xoauth2_ehlo}}}, {"AUTH", {{"535 5.7.3 no\r\n"}, {"235 ok\r\n"}}}},
       Fault::none,
       "EHLO me\r\n" + kept_auth + fresh_auth},
      {"a renewed token refused as well is left with QUIT",
       kept,
       true,
       {{"EHLO", {{xoauth2_ehlo}}}, {"AUTH", {{"535 5.7.3 no\r\n"}, {"535 5.7.3 no\r\n"}}}},
       Fault::login_refused,
       "EHLO me\r\n" + kept_auth + fresh_auth + "QUIT\r\n"},
      // RFC 4954 6: only 535 says the credentials are bad.
      {"a kept token met with 454 is not renewed",
       kept,
       true,
       {{"EHLO", {{xoauth2_ehlo}}}, {"AUTH", {{"454 4.7.0 try later\r\n"}}}},
       Fault::login_refused,
       "EHLO me\r\n" + kept_auth + "QUIT\r\n"},
      {"no fresh token to be had is left with QUIT",
       unrenewable,
       true,
       {{"EHLO", {{xoauth2_ehlo}}}, {"AUTH", {{"535 5.7.3 no\r\n"}}}},
       Fault::no_secret,
       "EHLO me\r\n" + kept_auth + "QUIT\r\n"},
      {"bytes after the 220 to STARTTLS",
       starttls,
       false,
       {{"EHLO", {{ehlo_tls}}}, {"STARTTLS", {{"220 go\r\n250 injected\r\n"}}}},
       Fault::tls_failed,
       "EHLO me\r\nSTARTTLS\r\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    unit::Script script = row.replies;
    script["greeting"] = {{"220 mx\r\n"}};
    unit::ScriptedServer server{{script}};
    Client client = server.client();
    ASSERT_EQ(open_session(client, "mx", 25, false, {}).fault, Fault::none);
    client.address = platform::numeric_ipv4(row.loopback ? "127.0.0.1" : "192.0.2.1");
    Submission submission = row.submission;
    EXPECT_EQ(open_submission(client, "me", submission).outcome.fault, row.fault);
    EXPECT_EQ(server.raw(), row.sent);
  }
}

TEST(LogIn, NoReplyShowsAnyFormOfTheSecret) {
  const std::string user = "alice";
  const std::string secret = "s3cret-Pw_7";
  const std::string plain = base64(std::string(1, '\0') + user + '\0' + secret);
  const std::string xoauth2 =
      base64("user=" + user + "\x01" + "auth=Bearer " + secret + "\x01\x01");
  struct Row {
    const char *name;
    AuthMethod auth;
    unit::Script replies; ///< after the greeting and EHLO
    std::function<Outcome(std::string &)> renew_secret = {};
  };
  const auto renewed = [](std::string &fresh) {
    fresh = "fresh-token";
    return Outcome{};
  };
  const std::vector<Row> rows = {
      {"PLAIN's argument quoted",
       AuthMethod::plain,
       {{"AUTH", {{"535 5.7.8 no: AUTH PLAIN " + plain + "\r\n"}}}}},
      {"the password in clear on a second line",
       AuthMethod::plain,
       {{"AUTH", {{"535-no\r\n535 the password " + secret + " is wrong\r\n"}}}}},
      {"LOGIN's answers quoted",
       AuthMethod::login,
       {{"AUTH", {{"334 VXNlcm5hbWU6\r\n"}}},
        {base64(user), {{"334 UGFzc3dvcmQ6\r\n"}}},
        {base64(secret), {{"535 " + base64(user) + " with " + base64(secret) + "\r\n"}}}}},
      {"the XOAUTH2 string and its token quoted",
       AuthMethod::xoauth2,
       {{"AUTH", {{"535 " + xoauth2 + " holds " + secret + "\r\n"}}}}},
      {"the refused token quoted after its renewal",
       AuthMethod::xoauth2,
       {{"AUTH", {{"535 5.7.3 no\r\n"}, {"535 5.7.3 " + secret + " was revoked\r\n"}}}},
       renewed},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    unit::Script script = row.replies;
    script["greeting"] = {{"220 mx\r\n"}};
    script["EHLO"] = {{"250-mx\r\n250 AUTH PLAIN LOGIN XOAUTH2\r\n"}};
    unit::ScriptedServer server{{script}};
    Client client = server.client();
    ASSERT_EQ(open_session(client, "mx", 25, false, {}).fault, Fault::none);
    client.address = platform::numeric_ipv4("127.0.0.1");
    Submission submission{TlsMode::off, {}, user, secret, row.auth, row.renew_secret};
    const Outcome login = open_submission(client, "me", submission).outcome;
    ASSERT_EQ(login.fault, Fault::login_refused);
    const std::string shown = fault_text(client, login) + login.reply.text;
    EXPECT_NE(shown.find("<hidden>"), std::string::npos) << shown;
    for (const std::string &form : {plain, xoauth2, base64(user), base64(secret), secret}) {
      EXPECT_EQ(shown.find(form), std::string::npos) << form << " in " << shown;
    }
  }
}

} // namespace
} // namespace smtp
