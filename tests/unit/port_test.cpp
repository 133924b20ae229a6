#include "smtp/leading_number.h"
#include "smtp/port.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace smtp {
namespace {

TEST(LeadingNumber, ReadsAsAtoiDoes) {
  struct Row {
    std::string text;
    int number;
  };
  const std::vector<Row> rows = {
      {"250 OK", 250},
      {" \t\n\v\f\r42x", 42},
      {"+7", 7},
      {"-12", -12},
      {"007", 7},
      {"abc", 0},
      {"", 0},
      {"- 3", 0},
      {"+-3", 0},
      {"0x1A", 0},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(leading_number(row.text), row.number);
  }
}

TEST(SmtpPort, NumberAfterTheFirstColonAnd25ForZero) {
  struct Row {
    std::string configured;
    int port;
  };
  const std::vector<Row> rows = {
      {"587", 587},   {"host:587", 587}, {"word", 25},    {"0", 25},        {"", 25},
      {"a:b:26", 25}, {"25:587", 587},   {":2525", 2525}, {"host:", 25},    {"host:0", 25},
      {" 587", 587},  {"587abc", 587},   {"-5", -5},      {"70000", 70000},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.configured);
    EXPECT_EQ(smtp_port(row.configured), row.port);
  }
}

} // namespace
} // namespace smtp
