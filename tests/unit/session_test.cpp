#ifndef _WIN32

#include "smtp/session.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace smtp {
namespace {

TEST(SmtpReadReply, KeepsBytesAfterAReplyAndTakesAPartReplyAtClose) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  const std::string sent = "220 a\r\n250-b\r\n250 c\r\n354 part";
  ASSERT_EQ(write(pair[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  close(pair[1]);
  Session session;
  session.socket = pair[0];
  for (const char *expected : {"220 a\r\n", "250-b\r\n250 c\r\n", "354 part"}) {
    std::optional<Reply> reply = smtp_read_reply(session, std::chrono::seconds(5));
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->text, expected);
  }
  EXPECT_FALSE(smtp_read_reply(session, std::chrono::seconds(5)).has_value());
  close(pair[0]);
}

} // namespace
} // namespace smtp

#endif
