#include "smtp/client.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

} // namespace
} // namespace smtp
