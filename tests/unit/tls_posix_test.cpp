// The OpenSSL stream's answers to the events of Stream's contract: the
// roots it trusts, how the server ends the stream, what follows a send that
// timed out, and why the stream broke, in words. The server is OpenSSL too,
// in memory behind a fake plain stream, with a certificate made here.
#include "platform/tls.h"

#include "platform/tls_common.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr const char *kServerName = "mail.test";

struct Free {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
  void operator()(X509 *certificate) const { X509_free(certificate); }
  void operator()(SSL_CTX *context) const { SSL_CTX_free(context); }
  void operator()(SSL *ssl) const { SSL_free(ssl); }
};
template <typename T> using Owned = std::unique_ptr<T, Free>;

// A self-signed certificate for kServerName, valid for an hour.
Owned<X509> certificate_for(EVP_PKEY *key) {
  Owned<X509> certificate(X509_new());
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
  X509_set_pubkey(certificate.get(), key);
  X509_NAME *name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char *>(kServerName), -1, -1, 0);
  X509_set_issuer_name(certificate.get(), name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate.get(), certificate.get(), nullptr, nullptr, 0);
  const std::string alternative = std::string("DNS:") + kServerName;
  X509_EXTENSION *extension =
      X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alternative.c_str());
  X509_add_ext(certificate.get(), extension, -1);
  X509_EXTENSION_free(extension);
  X509_sign(certificate.get(), key, EVP_sha256());
  return certificate;
}

std::string pem_of(X509 *certificate) {
  BIO *memory = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(memory, certificate);
  char *bytes = nullptr;
  long size = BIO_get_mem_data(memory, &bytes);
  std::string pem(bytes, static_cast<std::size_t>(size));
  BIO_free(memory);
  return pem;
}

// The server's end of the connection: what the client sends goes through
// the server's SSL at once; what that writes waits for the client to
// receive it.
struct Server {
  Owned<SSL_CTX> context;
  Owned<SSL> ssl;
  BIO *incoming = nullptr; ///< owned by `ssl`
  BIO *outgoing = nullptr; ///< owned by `ssl`
  bool closed = false;     ///< the TCP connection closed after what `outgoing` holds
  bool lost = false;       ///< the TCP connection fails after what `outgoing` holds
  long send_room = -1;     ///< bytes the plain stream takes before its sends time out; -1: all
  bool timed_out = false;  ///< a send of the client's timed out
  bool sent_after_time_out = false; ///< and the client sent again after it

  // Moves the handshake on, or takes what the client sent.
  void drive() {
    if (!SSL_is_init_finished(ssl.get())) {
      SSL_do_handshake(ssl.get());
      return;
    }
    char sink[4096];
    while (SSL_read(ssl.get(), sink, sizeof sink) > 0) {
    }
  }
};

class FakePlain final : public Stream {
public:
  explicit FakePlain(Server &server) : server_(server) {}

  Transfer send_some(std::string_view data, int) override {
    if (server_.send_room == 0) {
      server_.sent_after_time_out = server_.sent_after_time_out || server_.timed_out;
      server_.timed_out = true;
      return {0, true};
    }
    if (server_.send_room > 0) {
      data = data.substr(0, std::min(data.size(), static_cast<std::size_t>(server_.send_room)));
      server_.send_room -= static_cast<long>(data.size());
    }
    BIO_write(server_.incoming, data.data(), static_cast<int>(data.size()));
    server_.drive();
    return {static_cast<long>(data.size()), false};
  }

  Transfer receive_some(char *buffer, std::size_t capacity, int) override {
    server_.drive();
    int got = BIO_read(server_.outgoing, buffer, static_cast<int>(capacity));
    if (got > 0) return {got, false};
    if (server_.lost) return {-1, false};
    return server_.closed ? Transfer{0, false} : Transfer{0, true};
  }

  void send_without_delay() override {}

private:
  Server &server_;
};

// The handshake with `server`, which sends `certificate` (of `key`), in TLS
// `max_version` at most (0: the newest), the client trusting `ca_pem` alone.
TlsStart handshake(Server &server, EVP_PKEY *key, X509 *certificate, const std::string &ca_pem,
                   int max_version = 0) {
  server.context.reset(SSL_CTX_new(TLS_server_method()));
  SSL_CTX_use_certificate(server.context.get(), certificate);
  SSL_CTX_use_PrivateKey(server.context.get(), key);
  SSL_CTX_set_max_proto_version(server.context.get(), max_version);
  server.ssl.reset(SSL_new(server.context.get()));
  server.incoming = BIO_new(BIO_s_mem());
  server.outgoing = BIO_new(BIO_s_mem());
  SSL_set_bio(server.ssl.get(), server.incoming, server.outgoing);
  SSL_set_accept_state(server.ssl.get());
  return start_tls(std::make_unique<FakePlain>(server), kServerName, {"ca.pem", ca_pem}, 1000);
}

// A client stream after a finished handshake with `server` (of TLS
// `max_version` at most; 0: the newest), or nullptr.
std::unique_ptr<Stream> connected(Server &server, int max_version = 0) {
  Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
  Owned<X509> certificate = certificate_for(key.get());
  TlsStart start =
      handshake(server, key.get(), certificate.get(), pem_of(certificate.get()), max_version);
  EXPECT_EQ(start.failure, "");
  return std::move(start.stream);
}

// What the client receives until the stream ends or fails; the last count.
long receive_to_the_end(Stream &stream, std::string &text) {
  char buffer[4096];
  for (;;) {
    Transfer got = stream.receive_some(buffer, sizeof buffer, 1000);
    if (got.timed_out) return -2;
    if (got.count <= 0) return got.count;
    text.append(buffer, static_cast<std::size_t>(got.count));
  }
}

// The roots are the CA file's text as given, whatever its name: a text
// that changes under the same name is trusted anew, never the one before.
TEST(OpenSslStream, TrustsTheCaFileTextAlone) {
  Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
  Owned<X509> certificate = certificate_for(key.get());
  Owned<EVP_PKEY> other_key(EVP_EC_gen("P-256"));
  const std::string own = pem_of(certificate.get());
  const std::string other = pem_of(certificate_for(other_key.get()).get());
  struct Row {
    const char *name;
    std::string ca_pem;
    std::string failure;
  };
  const std::vector<Row> rows = {
      {"the server's own certificate", own, ""},
      {"another certificate under the same name", other, kNotTrusted},
      {"no certificate", "", "cannot read CA file ca.pem"},
      {"a certificate that does not parse",
       "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n",
       "cannot read CA file ca.pem"},
      {"the server's own once more", own, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Server server;
    TlsStart start = handshake(server, key.get(), certificate.get(), row.ca_pem);
    EXPECT_EQ(start.failure, row.failure);
    EXPECT_EQ(start.stream != nullptr, row.failure.empty());
  }
}

TEST(OpenSslStream, ABareCloseIsAnErrorAndCloseNotifyTheEnd) {
  struct Row {
    const char *name;
    bool close_notify;
    long last_count;
  };
  const std::vector<Row> rows = {
      {"a close without close_notify may have cut the reply short", false, -1},
      {"close_notify, then the close: the end", true, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Server server;
    std::unique_ptr<Stream> client = connected(server);
    ASSERT_NE(client, nullptr);
    const std::string reply = "250-queued\r\n";
    SSL_write(server.ssl.get(), reply.data(), static_cast<int>(reply.size()));
    if (row.close_notify) SSL_shutdown(server.ssl.get());
    server.closed = true;
    std::string text;
    EXPECT_EQ(receive_to_the_end(*client, text), row.last_count);
    EXPECT_EQ(text, reply);
  }
}

TEST(OpenSslStream, AfterASendThatTimedOutNothingMoreGoes) {
  struct Row {
    const char *name;
    long (*then)(Stream &client); ///< its count
  };
  const std::vector<Row> rows = {
      {"a send fails", [](Stream &client) { return client.send_some("QUIT\r\n", 1000).count; }},
      {"a receive fails",
       [](Stream &client) {
         char buffer[64];
         return client.receive_some(buffer, sizeof buffer, 1000).count;
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Server server;
    std::unique_ptr<Stream> client = connected(server);
    ASSERT_NE(client, nullptr);
    // A part of the record goes, then the time runs out.
    server.send_room = 10;
    EXPECT_TRUE(client->send_some(std::string(100, 'x'), 1000).timed_out);
    EXPECT_EQ(row.then(*client), -1);
    EXPECT_EQ(client->failure(), "") << "the dialogue tells a time out itself";
    client.reset();
    EXPECT_FALSE(server.sent_after_time_out) << "sent after the time ran out (a close_notify?)";
  }
}

TEST(OpenSslStream, TellsWhyItBrokeAfterTheHandshake) {
  struct Row {
    const char *name;
    int max_version;
    void (*fault)(Server &server);
    const char *failure;
  };
  const std::vector<Row> rows = {
      {"an alert: the server's answer to a record it could not decrypt", 0,
       [](Server &server) {
         const std::string garbage = std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'x');
         BIO_write(server.incoming, garbage.data(), static_cast<int>(garbage.size()));
         server.drive();
       },
       "the server sent a fatal alert (bad record mac)"},
      {"a HelloRequest of TLS 1.2", TLS1_2_VERSION,
       [](Server &server) {
         SSL_renegotiate(server.ssl.get());
         SSL_do_handshake(server.ssl.get());
       },
       "the server asked to renegotiate"},
      {"a record altered on its way", 0,
       [](Server &server) {
         SSL_write(server.ssl.get(), "250 ok\r\n", 8);
         char *bytes = nullptr;
         const long size = BIO_get_mem_data(server.outgoing, &bytes);
         bytes[size - 1] ^= 1;
       },
       "a record failed its check"},
      {"a close without close_notify", 0, [](Server &server) { server.closed = true; },
       "the connection closed without close_notify"},
      {"the connection failed", 0, [](Server &server) { server.lost = true; },
       "the connection was lost"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Server server;
    std::unique_ptr<Stream> client = connected(server, row.max_version);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->failure(), "");
    row.fault(server);
    std::string text;
    EXPECT_EQ(receive_to_the_end(*client, text), -1);
    EXPECT_EQ(text, "");
    EXPECT_EQ(client->failure(), row.failure);
  }
}

} // namespace
} // namespace platform
