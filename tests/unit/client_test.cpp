#include "smtp/auth.h"
#include "smtp/client.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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

TEST(SendAll, AServerThatStopsReadingFailsTheSendAtTheLimit) {
  unit::LoopbackConnection connection; // the server never reads
  Client client = connection.smtp_client();
  client.limits.send = milliseconds(300);
  const std::string block(64 * 1024, 'x');
  std::size_t sent = 0;
  // The socket buffers on both ends fill first; a later block must fail.
  while (sent < 256u * 1024 * 1024 && send_all(client, block)) sent += block.size();
  EXPECT_LT(sent, 256u * 1024 * 1024) << "every send went through";
}

// A server in memory: each command line sent gets the reply its verb (the
// line's first word) maps to, queued for the client to receive.
class ScriptedStream final : public platform::Stream {
public:
  ScriptedStream(std::map<std::string, std::string> replies, std::string &sent)
      : replies_(std::move(replies)), sent_(sent) {}
  platform::Transfer send_some(std::string_view data, int) override {
    sent_ += data;
    line_ += data;
    for (std::size_t end; (end = line_.find("\r\n")) != std::string::npos;) {
      const std::string verb = line_.substr(0, std::min(line_.find(' '), end));
      auto reply = replies_.find(verb);
      if (reply != replies_.end()) to_receive_ += reply->second;
      line_.erase(0, end + 2);
    }
    return {static_cast<long>(data.size()), false};
  }
  platform::Transfer receive_some(char *buffer, std::size_t capacity, int) override {
    if (to_receive_.empty()) return {0, true};
    const std::size_t count = std::min(capacity, to_receive_.size());
    to_receive_.copy(buffer, count);
    to_receive_.erase(0, count);
    return {static_cast<long>(count), false};
  }
  void send_without_delay() override {}

private:
  std::map<std::string, std::string> replies_;
  std::string &sent_;
  std::string line_;
  std::string to_receive_;
};

TEST(Hello, SubmissionStopsBeforeAnythingGoesThatShouldNot) {
  const std::string ehlo_plain = "250-mx\r\n250 AUTH PLAIN LOGIN\r\n";
  const std::string ehlo_tls = "250-mx\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n";
  const std::string plain = "AUTH PLAIN " + base64(std::string("\0u\0pw", 5)) + "\r\n";
  struct Row {
    const char *name;
    Submission submission;
    bool loopback;
    std::map<std::string, std::string> replies;
    Fault fault;
    std::string sent;
  };
  const Submission login{TlsMode::off, "", "u", "pw", AuthMethod::offered};
  const Submission starttls{TlsMode::starttls, "", "u", "pw", AuthMethod::offered};
  Submission xoauth2 = login;
  xoauth2.auth = AuthMethod::xoauth2;
  Submission by_login = login;
  by_login.auth = AuthMethod::login;
  const std::vector<Row> rows = {
      {"plain HELO when nothing is asked for",
       {},
       false,
       {{"HELO", "250 mx\r\n"}},
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
       {{"EHLO", ehlo_plain}, {"AUTH", "235 ok\r\n"}},
       Fault::none,
       "EHLO me\r\n" + plain},
      {"LOGIN answers each challenge",
       by_login,
       true,
       {{"EHLO", ehlo_plain},
        {"AUTH", "334 VXNlcm5hbWU6\r\n"},
        {"dQ==", "334 UGFzc3dvcmQ6\r\n"},
        {"cHc=", "235 ok\r\n"}},
       Fault::none,
       "EHLO me\r\nAUTH LOGIN\r\ndQ==\r\ncHc=\r\n"},
      {"a refused login is left with QUIT",
       login,
       true,
       {{"EHLO", ehlo_plain}, {"AUTH", "535 5.7.8 no\r\n"}},
       Fault::login_refused,
       "EHLO me\r\n" + plain + "QUIT\r\n"},
      {"an XOAUTH2 error challenge gets the empty answer",
       xoauth2,
       true,
       {{"EHLO", "250-mx\r\n250 AUTH XOAUTH2\r\n"},
        {"AUTH", "334 eyJzdGF0dXMiOiI0MDEifQ==\r\n"},
        {"", "535 5.7.8 no\r\n"}},
       Fault::login_refused,
       "EHLO me\r\nAUTH XOAUTH2 " +
           base64("user=u\x01"
                  "auth=Bearer pw\x01\x01") +
           "\r\n\r\nQUIT\r\n"},
      {"no mechanism quillrun speaks",
       login,
       true,
       {{"EHLO", "250-mx\r\n250 AUTH CRAM-MD5\r\n"}},
       Fault::no_login_method,
       "EHLO me\r\nQUIT\r\n"},
      {"a refused EHLO",
       login,
       true,
       {{"EHLO", "502 no\r\n"}},
       Fault::refused,
       "EHLO me\r\nQUIT\r\n"},
      {"STARTTLS not offered",
       starttls,
       false,
       {{"EHLO", ehlo_plain}},
       Fault::no_starttls,
       "EHLO me\r\nQUIT\r\n"},
      {"bytes after the 220 to STARTTLS",
       starttls,
       false,
       {{"EHLO", ehlo_tls}, {"STARTTLS", "220 go\r\n250 injected\r\n"}},
       Fault::tls_failed,
       "EHLO me\r\nSTARTTLS\r\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::string sent;
    Client client;
    client.stream = std::make_unique<ScriptedStream>(row.replies, sent);
    client.loopback = row.loopback;
    client.limits.reply = milliseconds(100);
    EXPECT_EQ(hello(client, "me", row.submission).fault, row.fault);
    EXPECT_EQ(sent, row.sent);
  }
}

} // namespace
} // namespace smtp
