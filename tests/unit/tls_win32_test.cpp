// What the Schannel side reads before Schannel is asked: the server's first
// bytes of a handshake, and whether the server is named by its address.
#ifdef _WIN32

#include "platform/tls_win32.h"

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
      {"mail.example.com", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.server);
    EXPECT_EQ(ip_literal_address(row.server), row.address);
  }
}

} // namespace
} // namespace platform

#endif
