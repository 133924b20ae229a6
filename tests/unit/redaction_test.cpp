#include "smtp/redaction.h"

#include "smtp/auth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace smtp {
namespace {

// The forms in which log_in sends `secret` for the user alice.
std::vector<std::string> forms_of(const std::string &secret) {
  return {base64(std::string("\0alice\0", 7) + secret),
          base64("user=alice\x01" + std::string("auth=Bearer ") + secret + "\x01\x01"),
          base64(secret), base64("alice"), secret};
}

TEST(HideSecretsInReply, EveryStretchOfAFormButTheReplyCodes) {
  const std::vector<std::string> password = forms_of("hunter2-Secret");
  const std::string plain = password[0]; // AGFsaWNlAGh1bnRlcjItU2VjcmV0
  struct Row {
    const char *name;
    std::string text;
    std::vector<std::string> forms;
    std::string shown;
  };
  const std::vector<Row> rows = {
      {"a whole form after the code", "535 5.7.8 " + plain + " refused\r\n", password,
       "535 5.7.8 <hidden> refused\r\n"},
      {"a reply with no code that starts with the secret", "hunter2-Secret rejected\r\n", password,
       "<hidden> rejected\r\n"},
      {"a line of a reply that starts with a form", "535-no\r\n" + password[2] + "\r\n", password,
       "535-no\r\n<hidden>\r\n"},
      {"a form less its last 4 bytes",
       "535 5.7.8 bad credentials " + plain.substr(0, plain.size() - 4) + "\r\n", password,
       "535 5.7.8 bad credentials <hidden>\r\n"},
      {"a form split over two lines, each code kept",
       "535-" + plain.substr(0, 14) + "\r\n535 " + plain.substr(14) + "\r\n", password,
       "535-<hidden>\r\n535 <hidden>\r\n"},
      {"a short secret only where it stands as a word", "535 5.7.8 AUTH PLAIN A\r\n", forms_of("A"),
       "535 5.7.8 AUTH PLAIN <hidden>\r\n"},
      {"a code alone on its line, the secret its very digits", "250\r\n", forms_of("250"),
       "250\r\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(hide_secrets_in_reply(row.text, row.forms), row.shown);
  }
}

// Text that is no SMTP reply (a token endpoint's words) has no code to keep.
TEST(HideSecrets, EveryStretchOfAFormInTextOfNoReply) {
  EXPECT_EQ(hide_secrets("123-456-789 is not valid", {"123-456-789"}), "<hidden> is not valid");
  EXPECT_EQ(hide_secrets("client_secret=pw7&x", {"pw7"}), "client_secret=<hidden>&x");
}

} // namespace
} // namespace smtp
