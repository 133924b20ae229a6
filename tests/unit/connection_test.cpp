#include "smtp/connection.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
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

TEST(Ipv6Literal, AnIpv6AddressInBracketsOrBareAndNothingElse) {
  const std::string loopback = std::string(15, '\0') + "\x01";
  const std::string documentation =
      std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') + "\x01";
  struct Row {
    std::string text;
    std::optional<std::string> address;
  };
  const std::vector<Row> rows = {
      {"::1", loopback},
      {"[::1]", loopback},
      {"2001:db8::1", documentation},
      {"[2001:DB8::1]", documentation},
      {"[::1", std::nullopt},
      {"::1]", std::nullopt},
      {"[[::1]]", std::nullopt},
      {"[]", std::nullopt},
      {"127.0.0.1", std::nullopt},
      {"[127.0.0.1]", std::nullopt},
      {"2001:db8::1:", std::nullopt},
      {"mail.example", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(ipv6_literal(row.text), row.address);
  }
}

TEST(IsLoopback, OnlyTheMachinesOwnAddresses) {
  struct Row {
    const char *text;
    bool loopback;
  };
  const std::vector<Row> rows = {
      {"127.0.0.1", true},   {"127.255.0.9", true}, {"::1", true},    {"128.0.0.1", false},
      {"10.0.0.127", false}, {"::2", false},        {"100::", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    const std::string text = row.text;
    const auto address = platform::address_bytes(text, text.find(':') == text.npos ? 4 : 16);
    ASSERT_TRUE(address);
    EXPECT_EQ(is_loopback(*address), row.loopback);
  }
  EXPECT_FALSE(is_loopback("")) << "no connection yet";
}

// Over real loopback sockets: 127.0.0.2 refuses (the listeners are bound to
// 127.0.0.1 alone), a SilentListener never answers.
TEST(ConnectInTurn, TriesEachAddressInTurnAndNamesTheLastFailure) {
  unit::LoopbackListener listening;
  unit::SilentListener silent;
  ASSERT_NE(listening.port, 0);
  ASSERT_NE(silent.queued, platform::kInvalidSocket);
  using std::chrono::milliseconds;
  struct Row {
    const char *name;
    std::vector<const char *> addresses;
    bool to_silent;      ///< the port is the silent listener's, else the listening one's
    milliseconds in_all; ///< the time for all of them (each has 300 ms)
    const char *connected_to;
    int error;
  };
  const std::vector<Row> rows = {
      {"the second takes it",
       {"127.0.0.2", "127.0.0.1"},
       false,
       milliseconds(5000),
       "127.0.0.1",
       0},
      {"a refusal after a silence",
       {"127.0.0.1", "127.0.0.2"},
       true,
       milliseconds(5000),
       nullptr,
       10061},
      {"a silence after a refusal",
       {"127.0.0.2", "127.0.0.1"},
       true,
       milliseconds(5000),
       nullptr,
       10060},
      {"no time left for the second",
       {"127.0.0.1", "127.0.0.2"},
       true,
       milliseconds(200),
       nullptr,
       10060},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> addresses;
    for (const char *text : row.addresses) addresses.push_back(platform::numeric_ipv4(text));
    TimeLimits limits;
    limits.connect = milliseconds(300);
    limits.connect_in_all = row.in_all;
    TcpConnection tcp =
        connect_in_turn(addresses, row.to_silent ? silent.listener.port : listening.port, limits);
    EXPECT_EQ(tcp.error, row.error);
    if (row.connected_to == nullptr) {
      EXPECT_EQ(tcp.socket, platform::kInvalidSocket);
      continue;
    }
    ASSERT_NE(tcp.socket, platform::kInvalidSocket);
    EXPECT_EQ(platform::address_text(tcp.address), row.connected_to);
    platform::close_socket(tcp.socket);
    unit::close_native(accept(listening.fd, nullptr, nullptr));
  }
}

TEST(OpenSmtpConnection, ConnectsToABracketedDottedQuad) {
  unit::LoopbackListener server;
  ASSERT_NE(server.port, 0);
  std::string host = "[127.0.0.1]";
  TcpConnection tcp = open_smtp_connection(host, server.port);
  ASSERT_NE(tcp.socket, platform::kInvalidSocket);
  EXPECT_EQ(tcp.error, 0);
  EXPECT_EQ(platform::address_text(tcp.address), "127.0.0.1");
  platform::close_socket(tcp.socket);
}

TEST(OpenSmtpConnection, ARefusedConnectionGivesCode10061AndLowerCasesTheHost) {
  int port = unit::LoopbackListener(false).port; // bound, never listening, then freed
  ASSERT_NE(port, 0);
  std::string host = "127.0.0.1";
  TcpConnection tcp = open_smtp_connection(host, port);
  EXPECT_EQ(tcp.socket, platform::kInvalidSocket);
  EXPECT_EQ(tcp.error, 10061);
  std::string named = "LocalHost";
  EXPECT_EQ(open_smtp_connection(named, port).socket, platform::kInvalidSocket);
  EXPECT_EQ(named, "localhost");
}

} // namespace
} // namespace smtp
