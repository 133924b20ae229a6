#include "log/invocation_log.h"

#include <gtest/gtest.h>

namespace logs {
namespace {

TEST(InvocationRecord, DateLineThenSenderAndEveryArgumentEachFollowedByABlank) {
  const char *date = "Mon Jan  1 09:05:00 2024\n";
  EXPECT_EQ(invocation_record(date, "alice", {"quillrun"}),
            std::string(date) + " alice quillrun \n");
  EXPECT_EQ(invocation_record(date, "alice", {"/usr/bin/quillrun", "-t", "a@x", ""}),
            std::string(date) + " alice /usr/bin/quillrun -t a@x  \n");
  EXPECT_EQ(invocation_record(date, "", {}), std::string(date) + "  \n");
}

TEST(InvocationRecord, ControlBytesAreWrittenAsVisibleEscapesBackslashesAsTyped) {
  const char *date = "Mon Jan  1 09:05:00 2024\n";
  EXPECT_EQ(invocation_record(date, "eve\nMon Jan  1 09:05:01 2024",
                              {"quillrun", "a@b\r\n x", std::string("t\tn\0e\x1b\x7f\xc3\xa9", 9),
                               "C:\\quillrun\\quillrun.exe"}),
            std::string(date) + " eve\\nMon Jan  1 09:05:01 2024 quillrun a@b\\r\\n x "
                                "t\\x09n\\x00e\\x1B\\x7F\xc3\xa9 C:\\quillrun\\quillrun.exe \n");
}

} // namespace
} // namespace logs
