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

} // namespace
} // namespace logs
