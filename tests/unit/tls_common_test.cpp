// What both TLS backends read before their library is asked, and the one
// shape of a library's own failure.
#include "platform/tls_common.h"

#include <gtest/gtest.h>

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
