#include "intake/address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace intake {
namespace {

TEST(EnvelopeAddress, FirstBlankSeparatedTokenWithAtElseTheWholeText) {
  struct Row {
    std::string text;
    std::string envelope;
  };
  const std::string long_local(1000, 'l');
  const std::vector<Row> rows = {
      {"", "<>"},
      {"bob@x.example", "<bob@x.example>"},
      {"<bob@x.example>", "<bob@x.example>"},
      {"Bob Smith <bob@x.example>", "<bob@x.example>"},
      {"bob", "<bob>"},
      {"Bob Smith", "<Bob Smith>"},
      {"  bob", "<  bob>"},
      {"<bob@x.example", "<bob@x.example"},
      {"a@x,b@y c@z", "<a@x,b@y>"},
      {"name\tb@x", "<name\tb@x>"},
      {"first\r\nsecond@x", "<second@x>"},
      {"<John Smith>", "<John Smith>"},
      {"<a b@c>", "<b@c>>"},
      {long_local + "@x", "<" + long_local + "@x>"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(envelope_address(row.text), row.envelope);
  }
}

TEST(HeaderAddresses, TokensWithAtOrEveryTokenWhenTheTextHasNoAt) {
  struct Row {
    std::string text;
    std::vector<std::string> found;
  };
  std::string many;
  std::vector<std::string> many_found;
  for (int i = 0; i < 40; ++i) {
    many += "user" + std::to_string(i) + "@x.example, ";
    many_found.push_back("<user" + std::to_string(i) + "@x.example>");
  }
  const std::string words(250, 'w');
  const std::vector<Row> rows = {
      {"", {}},
      {" , ,\r\n", {}},
      {" a@x.example", {"<a@x.example>"}},
      {"a@x, b@y,c@z", {"<a@x>", "<b@y>", "<c@z>"}},
      {"Bob <bob@x>", {"<bob@x>"}},
      {"bob a@x", {"<a@x>"}},
      {"bob, alice", {"<bob>", "<alice>"}},
      {"\"Bob Smith\" <b@x>", {"<b@x>"}},
      {"\"Bob Smith\" bob", {"<Smith\">", "<bob>"}},
      {"(the boss) x", {"<boss)>", "<x>"}},
      {"(a@x) b@y", {"<b@y>"}},
      {"Bob<bob@x>", {"<Bob<bob@x>>"}},
      {"a@x,\tb@y", {"<a@x>", "<\tb@y>"}},
      {"\t\t a@x", {"<a@x>"}},
      {"a@x\r\nb@y", {"<a@x>", "<b@y>"}},
      {many, many_found},
      {words + " z@y", {"<z@y>"}},
      {words + "@y", {"<" + words + "@y>"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(header_addresses(row.text), row.found);
  }
}

} // namespace
} // namespace intake
