#include "smtp/auth.h"
#include "smtp/capabilities.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace smtp {
namespace {

Capabilities offered_by(const std::string &ehlo_reply) {
  Reply reply;
  take_reply_bytes(reply, ehlo_reply);
  return parse_capabilities(reply);
}

TEST(Capabilities, OneExtensionALineAfterTheFirstInAnyLetterCase) {
  struct Row {
    std::string reply;
    bool starttls;
    bool eight_bit_mime;
    std::vector<std::string> auth;
    std::string auth_offered;
    std::vector<std::string> extensions;
  };
  const std::vector<Row> rows = {
      {"250-mx.example\r\n250-STARTTLS\r\n250-8BITMIME\r\n250 AUTH PLAIN LOGIN\r\n",
       true,
       true,
       {"PLAIN", "LOGIN"},
       "PLAIN LOGIN",
       {"STARTTLS", "8BITMIME", "AUTH PLAIN LOGIN"}},
      {"250-mx.example\r\n250-starttls\r\n250 auth  xoauth2 plain\r\n",
       true,
       false,
       {"XOAUTH2", "PLAIN"},
       "xoauth2 plain",
       {"starttls", "auth  xoauth2 plain"}},
      {"250-mx.example\r\n250-AUTH=LOGIN\r\n250 AUTH CRAM-MD5\r\n",
       false,
       false,
       {"LOGIN", "CRAM-MD5"},
       "LOGIN",
       {"AUTH=LOGIN", "AUTH CRAM-MD5"}},
      // The greeting line names the server, never an extension.
      {"250 STARTTLS\r\n", false, false, {}, "", {}},
      {"250-mx.example\r\n250-STARTTLSX\r\n250 8BITMIMEX\r\n",
       false,
       false,
       {},
       "",
       {"STARTTLSX", "8BITMIMEX"}},
      {"250-mx.example\r\n250-AUTH\r\n250 SIZE 1000\r\n",
       false,
       false,
       {},
       "",
       {"AUTH", "SIZE 1000"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.reply);
    const Capabilities offered = offered_by(row.reply);
    EXPECT_EQ(offered.starttls, row.starttls);
    EXPECT_EQ(offered.eight_bit_mime, row.eight_bit_mime);
    EXPECT_EQ(offered.auth, row.auth);
    EXPECT_EQ(offered.auth_offered, row.auth_offered);
    EXPECT_EQ(offered.extensions, row.extensions);
  }
}

TEST(Base64, TheTestVectorsOfRfc4648AndANulByte) {
  EXPECT_EQ(base64(""), "");
  EXPECT_EQ(base64("f"), "Zg==");
  EXPECT_EQ(base64("fo"), "Zm8=");
  EXPECT_EQ(base64("foo"), "Zm9v");
  EXPECT_EQ(base64("foob"), "Zm9vYg==");
  EXPECT_EQ(base64("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64(std::string("\0u\0p\xff", 5)), "AHUAcP8=");
}

TEST(ChosenMechanism, TheOneAskedForWhenOfferedElsePlainThenLogin) {
  struct Row {
    AuthMethod asked;
    std::string auth_line;
    std::optional<AuthMethod> chosen;
  };
  const std::vector<Row> rows = {
      {AuthMethod::offered, "LOGIN PLAIN", AuthMethod::plain},
      {AuthMethod::offered, "CRAM-MD5 LOGIN", AuthMethod::login},
      {AuthMethod::offered, "CRAM-MD5 XOAUTH2", std::nullopt},
      {AuthMethod::login, "PLAIN LOGIN", AuthMethod::login},
      {AuthMethod::plain, "LOGIN", std::nullopt},
      {AuthMethod::xoauth2, "PLAIN XOAUTH2", AuthMethod::xoauth2},
      {AuthMethod::xoauth2, "PLAIN", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.auth_line);
    EXPECT_EQ(
        chosen_mechanism(row.asked, offered_by("250-mx\r\n250 AUTH " + row.auth_line + "\r\n")),
        row.chosen);
  }
}

} // namespace
} // namespace smtp
