// What both TLS backends read before their library is asked, and the one
// shape of a library's own failure.
#include "platform/tls_common.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace {

TEST(ClassifyServerStart, TellsClearTextAndOldProtocolsFromTls) {
  struct Row {
    const char *name;
    std::string bytes;
    ServerStart start;
  };
  const std::vector<Row> rows = {
      {"an SMTP greeting", "220 mail.example ESMTP\r\n", ServerStart::clear_text},
      {"ServerHello of TLS 1.2", std::string("\x16\x03\x03\x00\x45\x02\x00\x00\x41\x03\x03", 11),
       ServerStart::tls},
      {"ServerHello of TLS 1.1", std::string("\x16\x03\x02\x00\x45\x02\x00\x00\x41\x03\x02", 11),
       ServerStart::old_protocol},
      {"protocol_version alert", std::string("\x15\x03\x03\x00\x02\x02\x46", 7),
       ServerStart::old_protocol},
      {"handshake_failure alert", std::string("\x15\x03\x03\x00\x02\x02\x28", 7), ServerStart::tls},
      {"a record header cut short", std::string("\x16\x03\x03", 3), ServerStart::tls},
      {"DEL is no text", "\x7f", ServerStart::tls},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(classify_server_start(row.bytes), row.start);
  }
}

TEST(IpLiteralAddress, GivesTheBytesOfAnAddressAndNothingForAName) {
  struct Row {
    const char *server;
    std::optional<std::string> address;
  };
  const std::vector<Row> rows = {
      {"127.0.0.1", std::string("\x7f\x00\x00\x01", 4)},
      {"[::1]", std::string(15, '\0') + "\x01"},
      {"::1", std::string(15, '\0') + "\x01"},
      {"[127.0.0.1]", std::string("\x7f\x00\x00\x01", 4)},
      {"mail.example.com", std::nullopt},
      {"[mail.example.com]", std::nullopt},
      {"127.1", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.server);
    EXPECT_EQ(ip_literal_address(row.server), row.address);
  }
}

// A plain stream that takes at most `take` bytes a send, or answers each
// send with `answer` once `take` is 0.
struct FakePlain final : Stream {
  std::size_t take = 0;
  Transfer answer;
  std::string sent;
  Transfer send_some(std::string_view data, int) override {
    if (take == 0) return answer;
    sent.append(data.substr(0, take));
    return {static_cast<long>(std::min(take, data.size())), false};
  }
  Transfer receive_some(char *, std::size_t, int) override { return {-1, false}; }
  void send_without_delay() override {}
};

TEST(SendAllBeneathTls, SendsEveryByteOrTellsWhyNot) {
  struct Row {
    const char *name;
    std::size_t take;
    Transfer answer;
    Moved moved;
    const char *sent;
  };
  const std::vector<Row> rows = {
      {"three bytes a send, to the end", 3, {}, Moved::done, "0123456789"},
      {"the stream failed", 0, {-1, false}, Moved::lost, ""},
      {"the time ran out", 0, {0, true}, Moved::timed_out, ""},
      {"nothing taken once the time is up", 0, {0, false}, Moved::timed_out, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    FakePlain plain;
    plain.take = row.take;
    plain.answer = row.answer;
    EXPECT_EQ(send_all(plain, "0123456789", Clock::now()), row.moved);
    EXPECT_EQ(plain.sent, row.sent);
  }
}

TEST(HandshakeFailed, NamesTheReasonOrTheStatusInEightHexDigits) {
  struct Row {
    std::string failure;
    const char *expected;
  };
  const std::vector<Row> rows = {
      {handshake_failed("unexpected eof while reading"),
       "handshake failed (unexpected eof while reading)"},
      // SEC_E_UNTRUSTED_ROOT as Windows holds it: a negative LONG.
      {handshake_failed(-2146893019L), "handshake failed (0x80090325)"},
      {handshake_failed(0x2fL), "handshake failed (0x0000002F)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(row.failure, row.expected);
  }
}

} // namespace
} // namespace platform
