// OpenSSL 3 over memory BIOs: OpenSSL never sees the socket. It reads what
// the server sent from one memory BIO and writes what goes to the server
// into another; every byte crosses the plain stream's own send_some and
// receive_some, with their time limits.
#include "platform/tls.h"

#include "platform/deadline.h"
#include "platform/tls_common.h"
#include "text/ascii.h"

#include <glob.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

namespace platform {
namespace {

struct VerifyRow {
  long result;
  const char *failure; ///< nullptr: the certificate's names follow kCertificateIsFor
};

// The verdicts of the chain check a user can act on; any other is shown in
// OpenSSL's words.
constexpr VerifyRow kVerifyRows[] = {
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, kNotTrusted},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, kNotTrusted},
    {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, kNotTrusted},
    {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, kNotTrusted},
    {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, kNotTrusted},
    {X509_V_ERR_CERT_HAS_EXPIRED, kExpired},
    {X509_V_ERR_CERT_NOT_YET_VALID, kNotYetValid},
    {X509_V_ERR_HOSTNAME_MISMATCH, nullptr},
};

// The plain text of one record (RFC 8446 5.1), and room to receive at least
// one whole record as it travels (2^14 + 256 + 5 bytes, 5.2).
constexpr std::size_t kRecordText = 16384;
constexpr std::size_t kReceiveSize = 32768;

struct Free {
  void operator()(SSL_CTX *context) const { SSL_CTX_free(context); }
  void operator()(SSL *ssl) const { SSL_free(ssl); }
};
using Context = std::unique_ptr<SSL_CTX, Free>;
using Ssl = std::unique_ptr<SSL, Free>;

struct Connection {
  std::unique_ptr<Stream> plain;
  Ssl ssl;
  BIO *incoming = nullptr; ///< owned by `ssl`: what the server sent, for OpenSSL to read
  BIO *outgoing = nullptr; ///< owned by `ssl`: what OpenSSL wrote, for the server
  bool broken = false;     ///< a fatal error or a record sent in part: nothing more goes
};

// Sends everything OpenSSL has written for the server, before `deadline`.
// What did not go is dropped: the stream is of no more use then.
Moved send_output(Connection &connection, Clock::time_point deadline) {
  char *bytes = nullptr;
  long size = BIO_get_mem_data(connection.outgoing, &bytes);
  Moved moved = send_all(*connection.plain, {bytes, static_cast<std::size_t>(size)}, deadline);
  BIO_reset(connection.outgoing);
  return moved;
}

// One receive from the server, waiting until `deadline`, into OpenSSL's
// input. A close is a failure too: the server must end with close_notify
// (RFC 8446 6.1), so a bare close may have cut the text short.
Moved receive_input(Connection &connection, Clock::time_point deadline) {
  char chunk[kReceiveSize];
  Transfer got = connection.plain->receive_some(chunk, sizeof chunk, milliseconds_left(deadline));
  if (got.timed_out) return Moved::timed_out;
  if (got.count == 0) return Moved::closed;
  if (got.count < 0) return Moved::lost;
  BIO_write(connection.incoming, chunk, static_cast<int>(got.count));
  return Moved::done;
}

// What the server sent first, not yet read by OpenSSL.
ServerStart server_start(BIO *incoming) {
  char *bytes = nullptr;
  long size = BIO_get_mem_data(incoming, &bytes);
  return classify_server_start({bytes, static_cast<std::size_t>(std::max(size, 0L))});
}

std::string_view bytes_of(const ASN1_STRING *text) {
  return {reinterpret_cast<const char *>(ASN1_STRING_get0_data(text)),
          static_cast<std::size_t>(ASN1_STRING_length(text))};
}

// The DNS names and IP addresses of the certificate's subject alternative
// names; its subject's common name when it has none (RFC 6125 6.4.4).
std::vector<CertificateName> certificate_names(X509 *certificate) {
  std::vector<CertificateName> names;
  const int extension = X509_get_ext_by_NID(certificate, NID_subject_alt_name, -1);
  if (extension >= 0) {
    names =
        alternative_names(bytes_of(X509_EXTENSION_get_data(X509_get_ext(certificate, extension))));
  }
  X509_NAME *subject = X509_get_subject_name(certificate);
  const int common_name = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
  if (names.empty() && common_name >= 0) {
    names.push_back({false, std::string(bytes_of(X509_NAME_ENTRY_get_data(
                                X509_NAME_get_entry(subject, common_name))))});
  }
  return names;
}

// The server's name against its certificate (name_matches), once the rest
// of it has passed: the chain, then the dates (RFC 5280 6.1), so that a
// refusal names the first fault in that order on both platforms. The
// server's name is the SSL's app data during the handshake.
int verify_name(int passed, X509_STORE_CTX *store) {
  if (!passed || X509_STORE_CTX_get_error_depth(store) != 0) return passed;
  auto *ssl =
      static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  const auto *server = static_cast<const std::string *>(SSL_get_app_data(ssl));
  if (name_matches(*server, certificate_names(X509_STORE_CTX_get_current_cert(store)))) return 1;
  X509_STORE_CTX_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
  return 0;
}

std::string verify_failure(SSL *ssl, long result) {
  for (const VerifyRow &row : kVerifyRows) {
    if (row.result != result) continue;
    if (row.failure) return row.failure;
    // The server's own certificate comes first in the chain it sent, kept
    // even when the chain failed its check.
    STACK_OF(X509) *chain = SSL_get_peer_cert_chain(ssl);
    return kCertificateIsFor +
           (sk_X509_num(chain) > 0 ? names_text(certificate_names(sk_X509_value(chain, 0))) : "");
  }
  return handshake_failed(X509_verify_cert_error_string(result));
}

std::string openssl_words(unsigned long code) {
  const char *reason = ERR_reason_error_string(code);
  return reason ? reason : "OpenSSL error " + std::to_string(code);
}

std::string openssl_failure(unsigned long code) { return handshake_failed(openssl_words(code)); }

// Why a record failed after the handshake, from OpenSSL's first error: an
// alert the server sent (OpenSSL's reason is the alert's number past
// SSL_AD_REASON_OFFSET), a record that did not decrypt, or OpenSSL's words.
std::string record_fault(unsigned long code) {
  const int reason = ERR_GET_REASON(code);
  if (ERR_GET_LIB(code) != ERR_LIB_SSL) return record_failed(openssl_words(code));
  if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256) {
    return alert_received(SSL_alert_desc_string_long(reason - SSL_AD_REASON_OFFSET));
  }
  if (reason == SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC) return kRecordFailed;
  return record_failed(openssl_words(code));
}

// What the stream's plain transfer tells when it did not go: nothing for
// the time run out, which the dialogue tells itself.
std::string moved_fault(Moved moved) {
  if (moved == Moved::closed) return kClosedWithoutNotify;
  return moved == Moved::lost ? kStreamLost : "";
}

// Notes a HelloRequest (RFC 5246 7.4.1.1) after the handshake in the bool
// at `asked`: the server asks to renegotiate, which SSL_OP_NO_RENEGOTIATION
// refuses with no more than a warning alert.
void note_hello_request(int sent, int, int content_type, const void *message, std::size_t size,
                        SSL *, void *asked) {
  if (sent || content_type != SSL3_RT_HANDSHAKE || size == 0) return;
  if (*static_cast<const unsigned char *>(message) == SSL3_MT_HELLO_REQUEST) {
    *static_cast<bool *>(asked) = true;
  }
}

bool refuses_old_protocol(unsigned long code) {
  if (ERR_GET_LIB(code) != ERR_LIB_SSL) return false;
  int reason = ERR_GET_REASON(code);
  // The server's protocol_version alert to our TLS 1.2 minimum, or its
  // answer with a version below it.
  return reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION || reason == SSL_R_UNSUPPORTED_PROTOCOL ||
         reason == SSL_R_VERSION_TOO_LOW;
}

std::string handshake_failure(SSL *ssl, unsigned long code) {
  long verified = SSL_get_verify_result(ssl);
  if (verified != X509_V_OK) return verify_failure(ssl, verified);
  if (refuses_old_protocol(code)) return kOldProtocol;
  return openssl_failure(code);
}

std::string moved_failure(Moved moved) {
  return moved == Moved::timed_out ? kNoAnswer : kConnectionLost;
}

// Runs the handshake to its end before `deadline`; empty, or why it failed.
std::string handshake(Connection &connection, Clock::time_point deadline) {
  for (bool first_answer = true;; first_answer = false) {
    ERR_clear_error();
    int result = SSL_connect(connection.ssl.get());
    int error = SSL_get_error(connection.ssl.get(), result);
    unsigned long code = ERR_peek_error();
    if (result != 1 && error != SSL_ERROR_WANT_READ) {
      // The alert OpenSSL wrote tells the server why, if it goes at once.
      send_output(connection, Clock::now());
      return handshake_failure(connection.ssl.get(), code);
    }
    Moved sent = send_output(connection, deadline);
    if (sent != Moved::done) return moved_failure(sent);
    if (result == 1) return {};
    Moved received = receive_input(connection, deadline);
    if (received != Moved::done) return moved_failure(received);
    // Only text is told apart here: OpenSSL names an old protocol itself.
    if (first_answer && server_start(connection.incoming) == ServerStart::clear_text) {
      return kClearText;
    }
  }
}

class TlsStream final : public Stream {
public:
  explicit TlsStream(Connection connection) : connection_(std::move(connection)) {
    SSL_set_msg_callback(connection_.ssl.get(), note_hello_request);
    SSL_set_msg_callback_arg(connection_.ssl.get(), &renegotiation_asked_);
  }

  // close_notify (RFC 8446 6.1) if it goes at once; the server's is not
  // awaited.
  ~TlsStream() override {
    if (connection_.broken) return;
    ERR_clear_error();
    SSL_shutdown(connection_.ssl.get());
    send_output(connection_, Clock::now());
    ERR_clear_error();
  }
  TlsStream(const TlsStream &) = delete;
  TlsStream &operator=(const TlsStream &) = delete;

  // One record of `data` at most, sent whole before the time runs out.
  Transfer send_some(std::string_view data, int timeout_ms) override {
    if (connection_.broken) return {-1, false};
    if (data.empty()) return {0, false};
    const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(timeout_ms));
    ERR_clear_error();
    int size = static_cast<int>(std::min(data.size(), kRecordText));
    int written = SSL_write(connection_.ssl.get(), data.data(), size);
    if (written <= 0) return broken(Moved::lost, record_fault(ERR_peek_error()));
    Moved sent = send_output(connection_, deadline);
    if (sent != Moved::done) return broken(sent, moved_fault(sent));
    return {written, false};
  }

  // Records that carry no data (TLS 1.3 session tickets, RFC 8446 4.6.1)
  // are taken in passing: the wait goes on for data, the end or the time.
  Transfer receive_some(char *buffer, std::size_t capacity, int timeout_ms) override {
    if (connection_.broken) return {-1, false};
    const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(timeout_ms));
    int size = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
    for (bool received_once = false;; received_once = true) {
      ERR_clear_error();
      int got = SSL_read(connection_.ssl.get(), buffer, size);
      if (got > 0) return {got, false};
      int error = SSL_get_error(connection_.ssl.get(), got);
      if (error == SSL_ERROR_ZERO_RETURN) return {0, false};
      if (error != SSL_ERROR_WANT_READ) return broken(Moved::lost, record_fault(ERR_peek_error()));
      // What OpenSSL answered in passing (an alert, a key update) goes first.
      Moved sent = send_output(connection_, deadline);
      if (sent != Moved::done) return broken(sent, moved_fault(sent));
      // The no_renegotiation warning has told the server; a reply to the
      // command would not follow a renegotiation that never happens.
      if (renegotiation_asked_) return broken(Moved::lost, kRenegotiationAsked);
      if (received_once && milliseconds_left(deadline) == 0) return {0, true};
      Moved received = receive_input(connection_, deadline);
      if (received == Moved::timed_out) return {0, true};
      if (received != Moved::done) return broken(received, moved_fault(received));
    }
  }

  void send_without_delay() override { connection_.plain->send_without_delay(); }

  std::string failure() const override { return failure_; }

private:
  // Nothing more goes after a fault, or after a record sent in part; `why`
  // the stream broke, in words for failure().
  Transfer broken(Moved how, std::string why) {
    connection_.broken = true;
    failure_ = std::move(why);
    return {how == Moved::timed_out ? 0 : -1, how == Moved::timed_out};
  }

  Connection connection_;
  bool renegotiation_asked_ = false; ///< a HelloRequest came (note_hello_request)
  std::string failure_;              ///< why the stream broke; empty for a send out of time
};

// Whether `directory` holds a certificate under its subject hash,
// "xxxxxxxx.N" (OpenSSL's rehash), as the directory lookup needs them.
bool holds_hash_links(const std::string &directory) {
  std::string pattern = directory + "/";
  for (int digit = 0; digit < 8; ++digit) pattern += "[0-9a-f]";
  glob_t found{};
  const bool any = glob((pattern + ".[0-9]*").c_str(), GLOB_NOSORT, nullptr, &found) == 0;
  globfree(&found);
  return any;
}

// The certificates of `pem` added to the context's roots; false when it
// holds none, or one that does not parse. As OpenSSL reads a CA file, but
// from the text judged and read once, never from the name again.
bool trust_pem(SSL_CTX *context, const std::string &pem) {
  BIO *text = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (text == nullptr) return false;
  STACK_OF(X509_INFO) *items = PEM_X509_INFO_read_bio(text, nullptr, nullptr, nullptr);
  BIO_free(text);
  if (items == nullptr) return false;
  X509_STORE *store = SSL_CTX_get_cert_store(context);
  int added = 0;
  bool sound = true;
  for (int i = 0; i < sk_X509_INFO_num(items); ++i) {
    X509 *certificate = sk_X509_INFO_value(items, i)->x509;
    if (certificate == nullptr) continue;
    sound = sound && X509_STORE_add_cert(store, certificate) == 1;
    ++added;
  }
  sk_X509_INFO_pop_free(items, X509_INFO_free);
  return sound && added > 0;
}

// The roots: only the certificates of the CA file; else the system's,
// looked up by subject hash in its certificate directory as a chain needs
// one, not its whole bundle decoded at every start. The bundle is read when
// SSL_CERT_FILE names one, or when the directory has no hash links.
bool trust(SSL_CTX *context, const CaFile &ca_file) {
  if (!ca_file.path.empty()) return trust_pem(context, ca_file.pem);
  const char *directory = std::getenv(X509_get_default_cert_dir_env());
  if (directory == nullptr) directory = X509_get_default_cert_dir();
  if (std::getenv(X509_get_default_cert_file_env()) != nullptr || !holds_hash_links(directory)) {
    return SSL_CTX_set_default_verify_paths(context) == 1;
  }
  return SSL_CTX_load_verify_dir(context, directory) == 1;
}

// A client context: TLS 1.2 at least, the server's certificate verified.
Context client_context() {
  Context context(SSL_CTX_new(TLS_client_method()));
  if (!context) return context;
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, verify_name);
  // A server's renegotiation would need a handshake inside a send.
  SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION);
  return context;
}

// The name the certificate must bear (verify_name), and the SNI (RFC 6066
// 3: none for an address literal).
bool aim_at(SSL *ssl, const std::string &server) {
  SSL_set_app_data(ssl, const_cast<std::string *>(&server));
  return ip_literal_address(server) || SSL_set_tlsext_host_name(ssl, server.c_str()) == 1;
}

TlsStart failed(std::string failure) { return {nullptr, std::move(failure), {}}; }

// The issuer most specific part first, as RFC 4514 has it, with ", "
// between the parts, UTF-8 as it is, and a value that holds a separator in
// quotes: as CertNameToStrW writes it on Windows.
std::string issuer_text(const X509_NAME *issuer) {
  constexpr unsigned long kFlags = (XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SEP_MASK) |
                                   XN_FLAG_SEP_CPLUS_SPC | ASN1_STRFLGS_ESC_QUOTE;
  BIO *text = BIO_new(BIO_s_mem());
  if (text == nullptr) return {};
  X509_NAME_print_ex(text, issuer, 0, kFlags);
  char *bytes = nullptr;
  const long size = BIO_get_mem_data(text, &bytes);
  std::string printed(bytes, static_cast<std::size_t>(std::max(size, 0L)));
  BIO_free(text);
  return ascii::printable(std::move(printed));
}

std::int64_t expiry_of(const X509 *certificate) {
  std::tm when{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &when) != 1) return 0;
  return utc_seconds(when.tm_year + 1900, when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min,
                     when.tm_sec);
}

TlsFacts facts_of(SSL *ssl) {
  TlsFacts facts;
  facts.version = static_cast<unsigned>(SSL_version(ssl));
  const SSL_CIPHER *cipher = SSL_get_current_cipher(ssl);
  // The suite's name as the TLS registry gives it, where OpenSSL knows one.
  const char *standard = SSL_CIPHER_standard_name(cipher);
  facts.cipher = standard != nullptr ? standard : SSL_CIPHER_get_name(cipher);
  X509 *leaf = SSL_get0_peer_certificate(ssl);
  if (leaf == nullptr) return facts;
  facts.names = certificate_names(leaf);
  facts.issuer = issuer_text(X509_get_issuer_name(leaf));
  facts.expires = expiry_of(leaf);
  return facts;
}

} // namespace

TlsStart start_tls(std::unique_ptr<Stream> plain, const std::string &server, const CaFile &ca_file,
                   int timeout_ms) {
  const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(timeout_ms));
  ERR_clear_error();
  // One context for the run, its roots read once however many connections
  // it makes (a "-bs" session may open several).
  static Context context;
  static CaFile trusted;
  if (!context || trusted.path != ca_file.path || trusted.pem != ca_file.pem) {
    context = client_context();
    if (!context) return failed(openssl_failure(ERR_peek_error()));
    if (!trust(context.get(), ca_file)) {
      context.reset();
      return failed(kUnreadableCaFile + ca_file.path);
    }
    trusted = ca_file;
  }

  Connection connection;
  connection.plain = std::move(plain);
  connection.ssl.reset(SSL_new(context.get()));
  if (!connection.ssl) return failed(openssl_failure(ERR_peek_error()));
  connection.incoming = BIO_new(BIO_s_mem());
  connection.outgoing = BIO_new(BIO_s_mem());
  // The SSL object owns them from here on, even when one is missing.
  SSL_set_bio(connection.ssl.get(), connection.incoming, connection.outgoing);
  if (!connection.incoming || !connection.outgoing)
    return failed(openssl_failure(ERR_peek_error()));
  if (!aim_at(connection.ssl.get(), server)) return failed(openssl_failure(ERR_peek_error()));

  std::string failure = handshake(connection, deadline);
  // `server` lives no longer than this call; no certificate comes after
  // the handshake (renegotiation is refused).
  SSL_set_app_data(connection.ssl.get(), nullptr);
  if (!failure.empty()) return failed(std::move(failure));
  TlsFacts facts = facts_of(connection.ssl.get());
  return {std::make_unique<TlsStream>(std::move(connection)), {}, std::move(facts)};
}

} // namespace platform
