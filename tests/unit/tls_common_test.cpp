// What both TLS backends read before their library is asked, the one
// shape of a library's own failure, and the one rule for the server's name
// in its certificate.
#include "platform/tls_common.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace {

TEST(ClassifyServerStart, TellsClearTextAndOldProtocolsFromTls) {
  struct Row {
    const char *name;
    std::string bytes;
    ServerStart start;
  };
  const std::vector<Row> rows = {
      {"an SMTP greeting", "220 mail.example ESMTP\r\n", ServerStart::clear_text},
      {"ServerHello of TLS 1.2", std::string("\x16\x03\x03\x00\x45\x02\x00\x00\x41\x03\x03", 11),
       ServerStart::tls},
      {"ServerHello of TLS 1.1", std::string("\x16\x03\x02\x00\x45\x02\x00\x00\x41\x03\x02", 11),
       ServerStart::old_protocol},
      {"protocol_version alert", std::string("\x15\x03\x03\x00\x02\x02\x46", 7),
       ServerStart::old_protocol},
      {"handshake_failure alert", std::string("\x15\x03\x03\x00\x02\x02\x28", 7), ServerStart::tls},
      {"a record header cut short", std::string("\x16\x03\x03", 3), ServerStart::tls},
      {"DEL is no text", "\x7f", ServerStart::tls},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(classify_server_start(row.bytes), row.start);
  }
}

TEST(IpLiteralAddress, GivesTheBytesOfAnAddressAndNothingForAName) {
  struct Row {
    const char *server;
    std::optional<std::string> address;
  };
  const std::vector<Row> rows = {
      {"127.0.0.1", std::string("\x7f\x00\x00\x01", 4)},
      {"[::1]", std::string(15, '\0') + "\x01"},
      {"::1", std::string(15, '\0') + "\x01"},
      {"[127.0.0.1]", std::string("\x7f\x00\x00\x01", 4)},
      {"mail.example.com", std::nullopt},
      {"[mail.example.com]", std::nullopt},
      {"127.1", std::nullopt},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.server);
    EXPECT_EQ(ip_literal_address(row.server), row.address);
  }
}

// A plain stream that takes at most `take` bytes a send, or answers each
// send with `answer` once `take` is 0.
struct FakePlain final : Stream {
  std::size_t take = 0;
  Transfer answer;
  std::string sent;
  Transfer send_some(std::string_view data, int) override {
    if (take == 0) return answer;
    sent.append(data.substr(0, take));
    return {static_cast<long>(std::min(take, data.size())), false};
  }
  Transfer receive_some(char *, std::size_t, int) override { return {-1, false}; }
  void send_without_delay() override {}
};

TEST(SendAllBeneathTls, SendsEveryByteOrTellsWhyNot) {
  struct Row {
    const char *name;
    std::size_t take;
    Transfer answer;
    Moved moved;
    const char *sent;
  };
  const std::vector<Row> rows = {
      {"three bytes a send, to the end", 3, {}, Moved::done, "0123456789"},
      {"the stream failed", 0, {-1, false}, Moved::lost, ""},
      {"the time ran out", 0, {0, true}, Moved::timed_out, ""},
      {"nothing taken once the time is up", 0, {0, false}, Moved::timed_out, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    FakePlain plain;
    plain.take = row.take;
    plain.answer = row.answer;
    EXPECT_EQ(send_all(plain, "0123456789", Clock::now()), row.moved);
    EXPECT_EQ(plain.sent, row.sent);
  }
}

TEST(HandshakeFailed, NamesTheReasonOrTheStatusInEightHexDigits) {
  struct Row {
    std::string failure;
    const char *expected;
  };
  const std::vector<Row> rows = {
      {handshake_failed("unexpected eof while reading"),
       "handshake failed (unexpected eof while reading)"},
      // SEC_E_UNTRUSTED_ROOT as Windows holds it: a negative LONG.
      {handshake_failed(-2146893019L), "handshake failed (0x80090325)"},
      {handshake_failed(0x2fL), "handshake failed (0x0000002F)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(row.failure, row.expected);
  }
}

CertificateName dns(std::string name) { return {false, std::move(name)}; }
CertificateName ip(std::string bytes) { return {true, std::move(bytes)}; }

const std::string kLoopback("\x7f\x00\x00\x01", 4);

TEST(NameMatches, OneRuleForTheServersNameOnBothPlatforms) {
  struct Row {
    const char *name;
    std::string server;
    std::vector<CertificateName> names;
    bool matches;
  };
  const std::vector<Row> rows = {
      {"the same name", "mail.example.com", {dns("mail.example.com")}, true},
      {"ASCII letter case is no difference", "Mail.Example.COM", {dns("mail.EXAMPLE.com")}, true},
      {"another name", "mail.example.com", {dns("smtp.example.com")}, false},
      {"any one of the names",
       "mail.example.com",
       {dns("a.example"), dns("mail.example.com")},
       true},
      {"a trailing dot on the server's", "mail.example.com.", {dns("mail.example.com")}, true},
      {"a trailing dot on the certificate's", "mail.example.com", {dns("mail.example.com.")}, true},
      {"two trailing dots are an empty label",
       "mail.example.com..",
       {dns("mail.example.com")},
       false},
      {"an empty label", "mail..example.com", {dns("mail..example.com")}, false},
      {"a wildcard for one label", "mail.example.com", {dns("*.example.com")}, true},
      {"a wildcard in other letter case", "MAIL.Example.com", {dns("*.EXAMPLE.COM")}, true},
      {"a wildcard is not the parent", "example.com", {dns("*.example.com")}, false},
      {"a wildcard is one label, not two", "a.b.example.com", {dns("*.example.com")}, false},
      {"a wildcard over a top-level domain", "mail.test", {dns("*.test")}, false},
      {"a wildcard over .com", "example.com", {dns("*.com")}, false},
      {"a wildcard alone", "test", {dns("*")}, false},
      {"a partial wildcard", "mail.example.com", {dns("m*.example.com")}, false},
      {"a partial wildcard in an A-label",
       "xn--bcher-kva.example.com",
       {dns("xn--*.example.com")},
       false},
      {"a wildcard before an A-label",
       "mail.xn--bcher-kva.com",
       {dns("*.xn--bcher-kva.com")},
       true},
      {"an A-label compares as ASCII",
       "XN--BCHER-KVA.example",
       {dns("xn--bcher-kva.example")},
       true},
      {"a wildcard not leftmost", "mail.example.com", {dns("mail.*.com")}, false},
      {"a wildcard not standing for an empty label", ".example.com", {dns("*.example.com")}, false},
      {"a NUL cuts no name short",
       "mail.example.com",
       {dns(std::string("mail.example.com") + '\0' + ".evil.example")},
       false},
      {"a NUL in the server's name",
       std::string("mail.example.com\0", 17),
       {dns(std::string("mail.example.com\0", 17))},
       false},
      {"an IP literal against its address", "127.0.0.1", {ip(kLoopback)}, true},
      {"an IP literal against another address", "127.0.0.2", {ip(kLoopback)}, false},
      {"an IPv6 literal in brackets", "[::1]", {ip(std::string(15, '\0') + "\x01")}, true},
      {"an IP literal never against a DNS name", "127.0.0.1", {dns("127.0.0.1")}, false},
      {"an IP literal with a trailing dot is still one", "127.0.0.1.", {dns("127.0.0.1")}, false},
      {"a host name never against an address", "mail.example.com", {ip(kLoopback)}, false},
      {"no names", "mail.example.com", {}, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(name_matches(row.server, row.names), row.matches);
  }
}

TEST(AlternativeNames, ReadsDnsNamesAndAddressesOfTheExtension) {
  struct Row {
    const char *name;
    std::string der;
    std::vector<CertificateName> names;
  };
  const std::string mail_test = std::string("\x82\x09", 2) + "mail.test";
  const std::string loopback = std::string("\x87\x04", 2) + kLoopback;
  const std::vector<Row> rows = {
      {"a name and an address",
       std::string("\x30\x11", 2) + mail_test + loopback,
       {dns("mail.test"), ip(kLoopback)}},
      {"an rfc822Name and an address of 5 bytes are no server name",
       std::string("\x30\x0c\x81\x03"
                   "a@b\x87\x05",
                   9) +
           kLoopback + "!",
       {}},
      {"a NUL kept", std::string("\x30\x04\x82\x02m\0", 6), {dns(std::string("m\0", 2))}},
      {"a long-form length", std::string("\x30\x81\x0b", 3) + mail_test, {dns("mail.test")}},
      {"an entry longer than the sequence", std::string("\x30\x0b\x82\x0a", 4) + "mail.test", {}},
      {"bytes after the sequence", std::string("\x30\x0b", 2) + mail_test + "x", {}},
      {"no sequence", mail_test, {}},
      {"nothing", "", {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<CertificateName> names = alternative_names(row.der);
    ASSERT_EQ(names.size(), row.names.size());
    for (std::size_t at = 0; at < names.size(); ++at) {
      EXPECT_EQ(names[at].is_address, row.names[at].is_address);
      EXPECT_EQ(names[at].bytes, row.names[at].bytes);
    }
  }
}

TEST(NamesText, ShowsNamesPrintableAndAddressesAsText) {
  EXPECT_EQ(names_text({dns("mail.test"), ip(kLoopback), dns(std::string("a\0b\xff", 4))}),
            "mail.test, 127.0.0.1, a?b?");
}

} // namespace
} // namespace platform
