// The Windows rule for a file holding a secret, on security descriptors
// built in memory: Wine keeps no access list of its own for a file.
#ifdef _WIN32

#include "platform/secret_access_win32.h"
#include "platform/settings_file.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>
#include <vector>

namespace platform {
namespace {

TEST(LetsOthersRead, AGrantOfReadToEveryoneUsersOrAuthenticatedUsers) {
  struct Row {
    const wchar_t *sddl;
    bool open;
  };
  const std::vector<Row> rows = {
      {L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;S-1-5-82-1-2-3-4-5)", false},
      {L"D:P(A;;FA;;;S-1-5-21-1-2-3-1001)(A;;FR;;;WD)", true},
      // What a file under Program Files inherits.
      {L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", true},
      {L"D:(A;;GR;;;AU)", true},
      {L"D:(A;;GA;;;BU)", true},
      {L"D:(A;;FW;;;BU)(A;;FA;;;SY)", false},
      {L"D:(D;;FA;;;WD)(A;;FA;;;SY)", false},
      {L"D:", false},
      {L"O:SY", true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.sddl)));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_EQ(lets_others_read(descriptor), row.open);
    LocalFree(descriptor);
  }
}

TEST(LetsOthersRead, ANullAccessListLetsEveryoneIn) {
  // Built by hand: Wine's SDDL reader makes "D:NO_ACCESS_CONTROL" an empty list.
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  EXPECT_TRUE(lets_others_read(&descriptor));
}

TEST(ClosingCommand, IsTheIcaclsLineThatLeavesTheFileToTheRunningAccount) {
  const std::string command = closing_command("C:\\Program Files\\quillrun\\quillrun.ini");
  EXPECT_EQ(command.rfind("icacls \"C:\\Program Files\\quillrun\\quillrun.ini\" /inheritance:r "
                          "/remove:g *S-1-1-0 *S-1-5-11 *S-1-5-32-545 /grant:r \"",
                          0),
            0u)
      << command;
  EXPECT_TRUE(command.ends_with(":R\"")) << command;
  EXPECT_EQ(command.find('%'), std::string::npos) << "the account was not found: " << command;
}

} // namespace
} // namespace platform

#endif
