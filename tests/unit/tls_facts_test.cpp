// The words of a TLS connection's facts, the same on every platform: the
// protocol, the certificate's expiry and days left, and its texts kept to
// one line.
#include "platform/tls_facts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
namespace {

TEST(ProtocolName, NamesTls12And13AndShowsAnyOtherVersion) {
  EXPECT_EQ(protocol_name(0x0303), "TLSv1.2");
  EXPECT_EQ(protocol_name(0x0304), "TLSv1.3");
  EXPECT_EQ(protocol_name(0x0302), "TLS 0x0302");
}

TEST(UtcSeconds, CountsFrom1970InTheGregorianCalendar) {
  struct Row {
    int year, month, day, hour, minute, second;
    std::int64_t seconds;
  };
  const std::vector<Row> rows = {
      {1970, 1, 1, 0, 0, 0, 0},
      {1969, 12, 31, 23, 59, 59, -1},
      {2000, 3, 1, 0, 0, 0, 951868800},          // after a leap day of a 400th year
      {2028, 2, 29, 12, 0, 0, 1835438400},       // a leap day
      {2038, 1, 19, 3, 14, 8, 2147483648},       // past 32 bits
      {2100, 3, 1, 0, 0, 0, 4107542400},         // 2100 has no leap day
      {9999, 12, 31, 23, 59, 59, 253402300799}}; // X.509's "no well-defined expiry"
  for (const Row &row : rows) {
    SCOPED_TRACE(row.seconds);
    EXPECT_EQ(utc_seconds(row.year, row.month, row.day, row.hour, row.minute, row.second),
              row.seconds);
  }
}

TEST(ExpiryText, TheUtcDateAndTheWholeDaysLeft) {
  constexpr std::int64_t kDay = 86400;
  const std::int64_t march_2027 = utc_seconds(2027, 3, 1, 0, 0, 0);
  struct Row {
    std::int64_t expires;
    std::int64_t before; ///< seconds from now until then
    std::string text;
  };
  const std::vector<Row> rows = {
      {march_2027, 82 * kDay + kDay / 2, "2027-03-01 (82 days left)"},
      {march_2027, kDay, "2027-03-01 (1 day left)"},
      {march_2027, kDay - 1, "2027-03-01 (0 days left)"},
      {march_2027, -kDay, "2027-03-01 (0 days left)"},
      {march_2027 - 1, 0, "2027-02-28 (0 days left)"},
      {utc_seconds(2028, 2, 29, 23, 59, 59), 0, "2028-02-29 (0 days left)"},
      {utc_seconds(2100, 3, 1, 0, 0, 0) - 1, 0, "2100-02-28 (0 days left)"},
      {utc_seconds(9999, 12, 31, 23, 59, 59), 0, "9999-12-31 (0 days left)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(expiry_text(row.expires, static_cast<std::time_t>(row.expires - row.before)),
              row.text);
  }
}

} // namespace
} // namespace platform
