#include "smtp/connection.h"
#include "smtp/socket_errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace smtp {
namespace {

TEST(SocketErrorText, TheCodesUsersMeetInWordsAnyOtherByNumber) {
  struct Row {
    int code;
    std::string text;
  };
  const std::vector<Row> rows = {
      {10061, "() Connection Refused"},
      {10060, "() Timedout"},
      {10051, "() Network Unreachable"},
      {10065, "() Host Unreachable"},
      {10054, "() The virtual circuit was reset by the remote side."},
      {11001, "() Host not found"},
      {11002, "() Nonauthoritative host not found"},
      {11003, "() Socket Unkown error code 11003 "},
      {0, "() Socket Unkown error code 0 "},
      {10056, "() Socket Unkown error code 10056 "},
      {-1, "() Socket Unkown error code -1 "},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(socket_error_text(row.code), row.text);
  }
}

TEST(ConnectionFailure, NamesTheHostInLowerCaseAndThePortWhole) {
  EXPECT_EQ(connection_failure("Mail.Example", 65561, 10061),
            "Could not connect to SMTP server mail.example 65561 () Connection Refused");
}

} // namespace
} // namespace smtp
