// The spool file's security on Windows: owned by the running user, with a
// protected access list that grants that user alone.
#ifdef _WIN32

#include "platform/private_file.h"
#include "platform/system.h"

#include "test_files.h"
#include "wine.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace platform {
namespace {

std::vector<unsigned char> token_user() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  CloseHandle(token);
  return user;
}

std::string sid_text(PSID sid) {
  char *text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) return "(none)";
  std::string result(text);
  LocalFree(text);
  return result;
}

TEST(CreatePrivateFileOnWindows, OwnerAloneHasAccessAndNothingIsInherited) {
  if (unit::running_under_wine()) GTEST_SKIP() << unit::kWineFileSecurity;
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("spool");
  std::FILE *file = create_private_file(path);
  ASSERT_NE(file, nullptr);

  std::vector<unsigned char> user = token_user();
  ASSERT_FALSE(user.empty());
  PSID user_sid = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;

  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // By the handle: the name cannot be opened again while the file exists.
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  ASSERT_EQ(GetSecurityInfo(handle, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));

  EXPECT_EQ(sid_text(owner), sid_text(user_sid));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the access list takes inherited entries";
  ASSERT_NE(dacl, nullptr) << "no access list: everyone has access";
  ASSERT_EQ(dacl->AceCount, 1);
  void *entry = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &entry));
  auto *ace = static_cast<ACCESS_ALLOWED_ACE *>(entry);
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  EXPECT_EQ(sid_text(&ace->SidStart), sid_text(user_sid));
  LocalFree(descriptor);
  remove_private_file(path, file);
}

TEST(BinaryStandardInput, TakesEveryByteAsSent) {
  unit::ScratchDirectory scratch;
  const std::string path = scratch.file("input");
  const std::string bytes("x\r\n\x1ay\r\n", 7);
  unit::write_file(path, bytes);
  // Standard input stands on the file for the length of the test.
  int saved = _dup(_fileno(stdin));
  ASSERT_NE(saved, -1);
  std::FILE *input = std::fopen(path.c_str(), "r");
  ASSERT_NE(input, nullptr);
  ASSERT_EQ(_dup2(_fileno(input), _fileno(stdin)), 0);
  std::fclose(input);
  use_binary_standard_input();
  char buffer[64];
  long count = read_standard_input(buffer, sizeof buffer);
  std::string got(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
  _dup2(saved, _fileno(stdin));
  _close(saved);
  _setmode(_fileno(stdin), _O_TEXT);
  EXPECT_EQ(got, bytes);
}

} // namespace
} // namespace platform

#endif
