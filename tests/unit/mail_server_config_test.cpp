#include "config/mail_server_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace config {
namespace {

TEST(IniValue, FirstValueTokenOfTheFirstLineWhoseFirstTokenIsTheKey) {
  struct Row {
    const char *name;
    std::string text;
    std::string value;
  };
  const std::string piece(4899, 'p');
  const std::vector<Row> rows = {
      {"plain", "g_work /var/spool\n", "/var/spool"},
      {"blanks, tabs and quotes before the value", "g_work \t\"\" \"/var/spool\" x\n",
       "/var/spool"},
      {"quoted value ends at a blank", "g_work \"my dir\"\n", "my"},
      {"rest of the line ignored", "g_work a b c\n", "a"},
      {"leading blanks before the key", "  \tg_work a\n", "a"},
      {"first line with a value wins", "g_work a\ng_work b\n", "a"},
      {"key without a value goes on", "g_work\ng_work  \ng_work \"\"\ng_work b\n", "b"},
      {"key as a later token", "other g_work a\n", ""},
      {"longer token", "g_workdir a\n", ""},
      {"capitals", "G_WORK a\n", ""},
      {"quote right after the key", "g_work\"a\"\n", ""},
      {"last line without LF", "x 1\ng_work a", "a"},
      {"other keys", "[section]\n; g_work a\ng_smtp_port 25\n", ""},
      {"empty file", "", ""},
      {"byte order mark before the first key", "\xEF\xBB\xBFg_work a\n", "a"},
      {"byte order mark only at the start", "x 1\n\xEF\xBB\xBFg_work a\n", ""},
      {"CR LF line ends", "g_work\r\ng_work a\r\n", "a"},
      {"CR ending the value token", "g_work a\r b\n", "a"},
      {"CR inside the value kept", "g_work a\rb\n", "a\rb"},
      {"long line read in pieces", piece + "g_work a\n", "a"},
      {"value cut at the piece end", "g_work " + piece, piece.substr(7)},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ini_value(row.text, "g_work"), row.value);
  }
}

} // namespace
} // namespace config
