#include "smtp/connection.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace smtp {
namespace {

TEST(IsDottedQuad, FourDigitRunsJoinedByThreeDotsWithOptionalBrackets) {
  struct Row {
    std::string text;
    bool dotted;
  };
  const std::vector<Row> rows = {
      {"10.0.0.1", true},   {"0.0.0.0", true},       {"999.1.1.1", true},   {"00001.2.3.4", true},
      {"[10.0.0.1]", true}, {"[10.0.0.1", true},     {"10.0.0.1]", true},   {"[1.2.3.]", true},
      {"1.2.3", false},     {"1.2.3.4.5", false},    {".1.2.3", false},     {"1.2.3.", false},
      {"1..2.3", false},    {"10.0.0.1 ", false},    {" 10.0.0.1", false},  {"", false},
      {"[", false},         {"[]", false},           {"[[1.2.3.4]", false}, {"[.1.2.3]", false},
      {"1.2.3.4]]", false}, {"1.2.3.4]5", false},    {"1.2.3.-4", false},   {"+1.2.3.4", false},
      {"a.b.c.d", false},   {"mail.example", false}, {"1.2.3.4x", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(is_dotted_quad(row.text), row.dotted);
  }
}

TEST(OpenSmtpConnection, ConnectsToABracketedDottedQuad) {
  unit::LoopbackListener server;
  ASSERT_NE(server.port, 0);
  std::string host = "[127.0.0.1]";
  platform::Socket socket = open_smtp_connection(host, server.port);
  ASSERT_NE(socket, platform::kInvalidSocket);
  EXPECT_EQ(platform::last_socket_error(), 0);
  platform::close_socket(socket);
}

TEST(OpenSmtpConnection, ARefusedConnectionSavesCode10061AndLowerCasesTheHost) {
  int port = unit::LoopbackListener(false).port; // bound, never listening, then freed
  ASSERT_NE(port, 0);
  std::string host = "127.0.0.1";
  EXPECT_EQ(open_smtp_connection(host, port), platform::kInvalidSocket);
  EXPECT_EQ(platform::last_socket_error(), 10061);
  std::string named = "LocalHost";
  EXPECT_EQ(open_smtp_connection(named, port), platform::kInvalidSocket);
  EXPECT_EQ(named, "localhost");
}

} // namespace
} // namespace smtp
