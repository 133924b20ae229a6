#include "platform/tls_facts.h"

#include <algorithm>
#include <cstdio>

namespace platform {
namespace {

constexpr std::int64_t kSecondsADay = 86400;
// The Gregorian calendar repeats every 400 years, of 146097 days; counted
// from 0000-03-01, which puts the leap day at the end of each year, 1970-01-01
// is day 719468.
constexpr std::int64_t kDaysAnEra = 146097;
constexpr std::int64_t kDaysTo1970 = 719468;

std::int64_t floor_divide(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

std::int64_t days_since_1970(std::int64_t year, int month, int day) {
  if (month <= 2) --year;
  const std::int64_t era = floor_divide(year, 400);
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * kDaysAnEra + day_of_era - kDaysTo1970;
}

// The UTC date of day `days` since 1970-01-01 as "YYYY-MM-DD".
std::string date_text(std::int64_t days) {
  const std::int64_t shifted = days + kDaysTo1970;
  const std::int64_t era = floor_divide(shifted, kDaysAnEra);
  const std::int64_t day_of_era = shifted - era * kDaysAnEra;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[72];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day));
  return text;
}

} // namespace

std::string protocol_name(unsigned version) {
  if (version == 0x0303) return "TLSv1.2";
  if (version == 0x0304) return "TLSv1.3";
  char text[16];
  std::snprintf(text, sizeof text, "TLS 0x%04X", version & 0xFFFFU);
  return text;
}

std::int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second) {
  return days_since_1970(year, month, day) * kSecondsADay + hour * 3600 + minute * 60 + second;
}

std::string expiry_text(std::int64_t expires, std::time_t now) {
  const std::int64_t left = std::max<std::int64_t>(0, (expires - now) / kSecondsADay);
  return date_text(floor_divide(expires, kSecondsADay)) + " (" + std::to_string(left) +
         (left == 1 ? " day left)" : " days left)");
}

} // namespace platform
