#include "platform/errno_codes.h"
#include "smtp/socket_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <netdb.h>
#include <vector>

namespace platform {
namespace {

TEST(WindowsSocketsCode, ErrnoValuesAreNumberedAsWindowsSocketsErrors) {
  struct Row {
    int error_number;
    int code;
  };
  const std::vector<Row> rows = {
      {ECONNREFUSED, 10061},
      {ENETUNREACH, 10051},
      {EHOSTUNREACH, 10065},
      {ETIMEDOUT, 10060},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ECONNRESET, 10054},
      {ECONNABORTED, 10053},
      {ENOTCONN, 10057},
      {ENOTSOCK, 10038},
      {EACCES, 10013},
      {EINTR, 10004},
      {0, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.error_number);
    EXPECT_EQ(windows_sockets_code(row.error_number), row.code);
  }
}

TEST(WindowsSocketsCode, AnErrnoWithoutCounterpartLandsOutsideTheTable) {
  for (int error_number : {ENOENT, EIO, ENOMEM, ENOSPC}) {
    SCOPED_TRACE(error_number);
    int code = windows_sockets_code(error_number);
    EXPECT_EQ(smtp::socket_error_text(code),
              "() Socket Unkown error code " + std::to_string(code) + " ");
    EXPECT_NE(code, 0);
  }
}

TEST(ResolverErrorCode, GetaddrinfoFailuresAreNumberedAsWindowsNumbersThem) {
  struct Row {
    int gai_error;
    int error_number;
    int code;
  };
  const std::vector<Row> rows = {
      {EAI_NONAME, 0, 11001},
      {EAI_AGAIN, 0, 11002},
      {EAI_FAIL, 0, 11003},
      {EAI_NODATA, 0, 11004},
      {EAI_SYSTEM, ENETUNREACH, 10051},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.gai_error);
    EXPECT_EQ(resolver_error_code(row.gai_error, row.error_number), row.code);
  }
}

} // namespace
} // namespace platform
