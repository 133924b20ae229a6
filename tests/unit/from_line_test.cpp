#include "intake/from_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace intake {
namespace {

TEST(NamedFromValue, AtomsStandAsTheyAreAnythingElseIsQuoted) {
  const std::string a99(99, 'a');
  struct Row {
    const char *name;
    std::string full_name;
    std::string from_value;
  };
  const std::vector<Row> rows = {
      {"no name", "", "<a@x>"},
      {"letters, digits and blanks", " John  Smith 3rd", " John  Smith 3rd <a@x>"},
      {"every other atext character", "!#$%&'*+-/=?^_`{|}~", "!#$%&'*+-/=?^_`{|}~ <a@x>"},
      {"a comma", "Doe, John", "\"Doe, John\" <a@x>"},
      {"a dot, obsolete in a phrase", "John Q. Public", "\"John Q. Public\" <a@x>"},
      {"bytes above 127", "Jos\xc3\xa9", "\"Jos\xc3\xa9\" <a@x>"},
      {"quote and backslash escaped", "Say \"hi\" \\o/", "\"Say \\\"hi\\\" \\\\o/\" <a@x>"},
      {"blanks alone", "   ", "\"   \" <a@x>"},
      {"cut to 100", std::string(150, 'n'), std::string(100, 'n') + " <a@x>"},
      {"cut before escaping", a99 + "\"\"\"", "\"" + a99 + "\\\"\" <a@x>"},
      {"cut after 100 characters, never inside one", a99 + "\xc3\xa9\xc3\xa9",
       "\"" + a99 + "\xc3\xa9\" <a@x>"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(named_from_value(row.full_name, "<a@x>"), row.from_value);
  }
}

} // namespace
} // namespace intake
