// The Windows rules for a file holding settings or a secret, on security
// descriptors built in memory: Wine keeps no access list of its own for a
// file, and gives every file the account that runs it as owner.
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

// A descriptor from SDDL, freed with the row.
struct Descriptor {
  PSECURITY_DESCRIPTOR held = nullptr;
  explicit Descriptor(const wchar_t *sddl) {
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &held,
                                                                     nullptr));
  }
  ~Descriptor() { LocalFree(held); }
};

TEST(LetsOthersWrite, AGrantToWriteModifyOrTakeOverToEveryoneUsersOrAuthenticatedUsers) {
  struct Row {
    const wchar_t *sddl;
    bool open;
  };
  const std::vector<Row> rows = {
      {L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)(A;;FA;;;S-1-5-21-1-2-3-1001)", false},
      // What a file in a folder made under C:\ inherits: Modify for Authenticated Users.
      {L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)", true},
      {L"D:(A;;0x2;;;WD)", true},    // FILE_WRITE_DATA
      {L"D:(A;;0x4;;;BU)", true},    // FILE_APPEND_DATA: a line added is a key added
      {L"D:(A;;GW;;;AU)", true},     // GENERIC_WRITE
      {L"D:(A;;GA;;;WD)", true},     // GENERIC_ALL
      {L"D:(A;;WD;;;BU)", true},     // WRITE_DAC: may grant itself the rest
      {L"D:(A;;WO;;;AU)", true},     // WRITE_OWNER: may take the file
      {L"D:(A;;SD;;;WD)", false},    // DELETE alone: what is put in its place is another's
      {L"D:(A;;0x180;;;BU)", false}, // FILE_WRITE_ATTRIBUTES, FILE_WRITE_EA
      {L"D:(A;;FA;;;S-1-5-21-1-2-3-1001)", false},
      {L"D:(D;;FA;;;WD)(A;;FA;;;SY)", false},
      {L"O:SY", true}, // no access list
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.sddl)));
    Descriptor descriptor(row.sddl);
    EXPECT_EQ(lets_others_write(descriptor.held), row.open);
  }
  SECURITY_DESCRIPTOR null_dacl;
  ASSERT_TRUE(InitializeSecurityDescriptor(&null_dacl, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&null_dacl, TRUE, nullptr, FALSE));
  EXPECT_TRUE(lets_others_write(&null_dacl));
}

TEST(OwnedByTrusted, TheCallerSystemOrAdministratorsAndNoOneElse) {
  Descriptor caller(L"O:S-1-5-21-1-2-3-1001");
  struct Row {
    const wchar_t *sddl;
    bool trusted;
  };
  const std::vector<Row> rows = {
      {L"O:S-1-5-21-1-2-3-1001D:", true},
      {L"O:SYD:", true},
      {L"O:BAD:", true},
      {L"O:S-1-5-21-1-2-3-1002D:", false},
      {L"O:BUD:", false},
      {L"O:WDD:", false},
      {L"D:", false}, // no owner
  };
  PSID caller_sid = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(caller.held, &caller_sid, &defaulted));
  for (const Row &row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.sddl)));
    Descriptor descriptor(row.sddl);
    EXPECT_EQ(owned_by_trusted(descriptor.held, caller_sid), row.trusted);
  }
}

TEST(MendingCommand, TheIcaclsLineThatRemovesTheGrantsOrMakesTheCallerTheOwner) {
  const std::string path = "C:\\mail\\quillrun.ini";
  FileText file;
  file.standing = Standing::written_by_others;
  EXPECT_EQ(mending_command(path, file),
            "icacls \"C:\\mail\\quillrun.ini\" /inheritance:d /remove:g *S-1-1-0 *S-1-5-11 "
            "*S-1-5-32-545 /grant *S-1-5-32-545:R");
  file.standing = Standing::foreign_owner;
  const std::string owning = mending_command(path, file);
  EXPECT_EQ(owning.rfind("icacls \"C:\\mail\\quillrun.ini\" /setowner \"", 0), 0u) << owning;
  file.standing = Standing::foreign_link;
  EXPECT_EQ(mending_command(path, file), "del \"C:\\mail\\quillrun.ini\"");
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
