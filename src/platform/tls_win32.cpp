// TLS with Schannel. Schannel under Wine validates no certificate and
// ignores the protocol mask of SCH_CREDENTIALS, so both are checked here by
// hand after the handshake, on Windows the same way.
#include "platform/tls_win32.h"
#include "platform/tls.h"

// Before windows.h, which would bring in winsock.h otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <wincrypt.h>

// Only for SECURITY_FLAG_IGNORE_UNKNOWN_CA, a flag of the SSL policy.
#include <wininet.h>

#define SECURITY_WIN32
#include <security.h>

// SCH_CREDENTIALS and TLS_PARAMETERS (mingw-w64 10 needs subauth.h first).
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>

#include <schannel.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Room for a whole record as it arrives: 2^14 bytes of text, at most 256 of
// expansion and the 5-byte header (RFC 8446 5.2).
constexpr std::size_t kReceiveChunk = 16384 + 256 + 5;

// TLS 1.2 and 1.3 only; RFC 8996 retires TLS 1.0 and 1.1.
constexpr DWORD kClientProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kOldProtocols = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
constexpr DWORD kCredentialFlags =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
// ISC_REQ_USE_SUPPLIED_CREDS: a server that asks for a client certificate
// gets none, rather than a handshake stopped to ask which. A failed
// handshake leaves an alert to send (ISC_REQ_EXTENDED_ERROR).
constexpr ULONG kContextFlags =
    ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
    ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS;

// TLS record content types and the values read from the first record
// (RFC 5246 6.2.1, 7.2, 7.4; RFC 8446 B.1).
constexpr unsigned char kAlertRecord = 21;
constexpr unsigned char kHandshakeRecord = 22;
constexpr unsigned char kServerHello = 2;
constexpr unsigned char kProtocolVersionAlert = 70;
constexpr unsigned kTls12Version = 0x0303;

struct StoreClose {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreClose>;
struct CertificateFree {
  void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;
struct ChainFree {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

int milliseconds_left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

Clock::time_point deadline_after(int timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

std::string status_text(long status) {
  char text[32];
  std::snprintf(text, sizeof text, "handshake failed (0x%08lX)",
                static_cast<unsigned long>(status));
  return text;
}

std::wstring widened(const std::string &text) {
  int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string narrowed(const std::wstring &wide) {
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

// ---- The plain stream beneath

enum class Sent { all, timed_out, failed };

Sent send_all(Stream &plain, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    Transfer sent = plain.send_some(data, milliseconds_left(deadline));
    if (sent.count < 0) return Sent::failed;
    if (sent.timed_out || (sent.count == 0 && milliseconds_left(deadline) == 0)) {
      return Sent::timed_out;
    }
    data.remove_prefix(static_cast<std::size_t>(sent.count));
  }
  return Sent::all;
}

// One receive from `plain`, appended to `bytes`.
Transfer receive_into(Stream &plain, std::string &bytes, int timeout_ms) {
  const std::size_t had = bytes.size();
  bytes.resize(had + kReceiveChunk);
  Transfer got = plain.receive_some(bytes.data() + had, kReceiveChunk, timeout_ms);
  bytes.resize(had + (got.count > 0 ? static_cast<std::size_t>(got.count) : 0));
  return got;
}

// ---- The Schannel session

// The handles of one session, the context released before the credentials
// it was made with.
struct Session {
  CredHandle credentials{};
  CtxtHandle context{};
  bool has_credentials = false;
  bool has_context = false;
  std::wstring target; ///< SNI and the name checked; empty for an IP literal
  int timeout_ms = 0;  ///< for each handshake, the first and any the server asks for later

  Session() = default;
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;
  ~Session() {
    if (has_context) DeleteSecurityContext(&context);
    if (has_credentials) FreeCredentialsHandle(&credentials);
  }
  wchar_t *target_name() { return target.empty() ? nullptr : target.data(); }
};

SECURITY_STATUS acquire_credentials(Session &session, void *data) {
  SECURITY_STATUS status =
      AcquireCredentialsHandleW(nullptr, const_cast<wchar_t *>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                nullptr, data, nullptr, nullptr, &session.credentials, nullptr);
  session.has_credentials = status == SEC_E_OK;
  return status;
}

// SCH_CREDENTIALS, which alone offers TLS 1.3 (Windows 10 1809 and later);
// SCHANNEL_CRED where it is unknown.
SECURITY_STATUS acquire_client_credentials(Session &session) {
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = ~kClientProtocols;
  SCH_CREDENTIALS credentials{};
  credentials.dwVersion = SCH_CREDENTIALS_VERSION;
  credentials.dwFlags = kCredentialFlags;
  credentials.cTlsParameters = 1;
  credentials.pTlsParameters = &parameters;
  if (acquire_credentials(session, &credentials) == SEC_E_OK) return SEC_E_OK;
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.dwFlags = kCredentialFlags;
  older.grbitEnabledProtocols = kClientProtocols;
  return acquire_credentials(session, &older);
}

// One call of InitializeSecurityContextW on `input` (none for the first
// call, or with `input` null); its token is left in `token`. Then `input`
// keeps what Schannel did not take (SECBUFFER_EXTRA), or all of it when the
// record is not complete yet.
SECURITY_STATUS handshake_step(Session &session, std::string *input, SecBuffer &token) {
  SecBuffer in[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_EMPTY, nullptr}};
  if (input != nullptr) {
    in[0].cbBuffer = static_cast<unsigned long>(input->size());
    in[0].pvBuffer = input->data();
  }
  SecBufferDesc in_description{SECBUFFER_VERSION, 2, in};
  SecBufferDesc out_description{SECBUFFER_VERSION, 1, &token};
  ULONG attributes = 0;
  SECURITY_STATUS status = InitializeSecurityContextW(
      &session.credentials, session.has_context ? &session.context : nullptr, session.target_name(),
      kContextFlags, 0, 0, input != nullptr ? &in_description : nullptr, 0, &session.context,
      &out_description, &attributes, nullptr);
  if (!session.has_context) {
    session.has_context = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
  }
  if (input != nullptr && status != SEC_E_INCOMPLETE_MESSAGE) {
    const std::size_t extra = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
    input->erase(0, input->size() - extra);
  }
  return status;
}

// Sends the token InitializeSecurityContextW made, if any, and frees it.
Sent send_token(Stream &plain, SecBuffer &token, Clock::time_point deadline) {
  if (token.pvBuffer == nullptr) return Sent::all;
  Sent sent =
      send_all(plain, {static_cast<const char *>(token.pvBuffer), token.cbBuffer}, deadline);
  FreeContextBuffer(token.pvBuffer);
  token.pvBuffer = nullptr;
  return sent;
}

enum class Ending { done, no_answer, lost, refused };

struct Handshake {
  Ending ending = Ending::done;
  SECURITY_STATUS status = SEC_E_OK;    ///< Schannel's, when refused
  ServerStart start = ServerStart::tls; ///< what the server's first reply looked like
};

// Runs the handshake from what `input` holds (for a first handshake,
// nothing) until Schannel has its keys; `input` then keeps the bytes that
// came after it.
Handshake run_handshake(Session &session, Stream &plain, std::string &input) {
  const Clock::time_point deadline = deadline_after(session.timeout_ms);
  bool first_reply = !session.has_context;
  bool need_bytes = false;
  Handshake result;
  for (;;) {
    if (need_bytes) {
      Transfer got = receive_into(plain, input, milliseconds_left(deadline));
      if (got.timed_out) return {Ending::no_answer, 0, result.start};
      if (got.count <= 0) return {Ending::lost, 0, result.start};
      if (first_reply) {
        first_reply = false;
        result.start = classify_server_start(input);
        // Schannel would wait for the rest of a "record" that never comes.
        if (result.start == ServerStart::clear_text) return {Ending::refused, 0, result.start};
      }
    }
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    const bool first_call = !session.has_context;
    SECURITY_STATUS status = handshake_step(session, first_call ? nullptr : &input, token);
    // On a refusal the token is the alert that tells the server why.
    Sent sent = send_token(plain, token, deadline);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      need_bytes = true;
      continue;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
      return {Ending::refused, status, result.start};
    }
    if (sent == Sent::timed_out) return {Ending::no_answer, 0, result.start};
    if (sent == Sent::failed) return {Ending::lost, 0, result.start};
    if (status == SEC_E_OK) return result;
    need_bytes = input.empty();
  }
}

std::string handshake_failure(const Handshake &handshake) {
  if (handshake.start == ServerStart::clear_text) return kClearText;
  if (handshake.start == ServerStart::old_protocol) return kOldProtocol;
  if (handshake.ending == Ending::no_answer) return kNoAnswer;
  if (handshake.ending == Ending::lost) return kConnectionLost;
  return status_text(handshake.status);
}

// ---- The server's certificate

// The certificates of a PEM file (RFC 7468) in a store of their own;
// nothing when the file cannot be read or holds no certificate.
Store read_ca_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return nullptr;
  const std::string pem{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return nullptr;
  Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (!store) return nullptr;
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::size_t found = 0;
  for (std::size_t begin = pem.find(kBegin); begin != std::string::npos;
       begin = pem.find(kBegin, begin + 1)) {
    std::size_t end = pem.find(kEnd, begin);
    if (end == std::string::npos) return nullptr;
    const DWORD length = static_cast<DWORD>(end + kEnd.size() - begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data() + begin, length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
      return nullptr;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data() + begin, length, CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr) ||
        !CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                          CERT_STORE_ADD_ALWAYS, nullptr)) {
      return nullptr;
    }
    ++found;
  }
  return found > 0 ? std::move(store) : nullptr;
}

// The chain from `leaf` to a root, built with the certificates the server
// sent and those of the CA file, for a TLS server's use (RFC 5280 4.2.1.12).
Chain build_chain(PCCERT_CONTEXT leaf, HCERTSTORE ca_store) {
  Store extra(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (!extra) return nullptr;
  CertAddStoreToCollection(extra.get(), leaf->hCertStore, 0, 0);
  if (ca_store != nullptr) CertAddStoreToCollection(extra.get(), ca_store, 0, 0);
  LPSTR server_use[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = server_use;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, extra.get(), &parameters, 0, nullptr,
                               &chain)) {
    return nullptr;
  }
  return Chain(chain);
}

PCCERT_CONTEXT root_of(PCCERT_CHAIN_CONTEXT chain) {
  const CERT_SIMPLE_CHAIN *last = chain->rgpChain[chain->cChain - 1];
  return last->rgpElement[last->cElement - 1]->pCertContext;
}

bool holds(HCERTSTORE store, PCCERT_CONTEXT certificate) {
  Certificate found(CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                               certificate, nullptr));
  return found != nullptr;
}

// The SSL policy's verdict on chain, dates and name (RFC 6125; none asked
// for an IP literal). With a CA file an unknown root is let pass here: it
// has been checked against the file.
HRESULT ssl_policy_error(PCCERT_CHAIN_CONTEXT chain, Session &session, bool own_roots) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = own_roots ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0;
  ssl.pwszServerName = session.target_name();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  return static_cast<HRESULT>(status.dwError);
}

// The first certificate from the leaf up whose dates do not hold now.
std::string date_fault(PCCERT_CHAIN_CONTEXT chain) {
  for (DWORD c = 0; c < chain->cChain; ++c) {
    for (DWORD e = 0; e < chain->rgpChain[c]->cElement; ++e) {
      PCCERT_CONTEXT certificate = chain->rgpChain[c]->rgpElement[e]->pCertContext;
      LONG when = CertVerifyTimeValidity(nullptr, certificate->pCertInfo);
      if (when < 0) return kNotYetValid;
      if (when > 0) return kExpired;
    }
  }
  return kExpired;
}

struct AlternativeName {
  std::string text;    ///< a DNS name, or an IP address as text
  std::string address; ///< an IP address's 4 or 16 bytes; empty for a DNS name
};

std::string address_text(const std::string &address) {
  char text[64] = "";
  inet_ntop(address.size() == 4 ? AF_INET : AF_INET6, address.data(), text, sizeof text);
  return text;
}

// The DNS names and IP addresses among the subject alternative names
// (RFC 5280 4.2.1.6), in their order.
std::vector<AlternativeName> alternative_names(PCCERT_CONTEXT certificate) {
  const CERT_INFO *info = certificate->pCertInfo;
  PCERT_EXTENSION extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  CERT_ALT_NAME_INFO *decoded = nullptr;
  DWORD size = 0;
  if (extension == nullptr ||
      !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                           &size)) {
    return {};
  }
  std::vector<AlternativeName> names;
  for (DWORD i = 0; i < decoded->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY &entry = decoded->rgAltEntry[i];
    if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
      names.push_back({narrowed(entry.pwszDNSName), {}});
    } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
               (entry.IPAddress.cbData == 4 || entry.IPAddress.cbData == 16)) {
      std::string address(reinterpret_cast<const char *>(entry.IPAddress.pbData),
                          entry.IPAddress.cbData);
      names.push_back({address_text(address), address});
    }
  }
  LocalFree(decoded);
  return names;
}

std::string common_name(PCCERT_CONTEXT certificate) {
  void *oid = const_cast<char *>(szOID_COMMON_NAME);
  DWORD size = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, oid, nullptr, 0);
  std::wstring name(size, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, oid, name.data(), size);
  name.resize(size > 0 ? size - 1 : 0);
  return narrowed(name);
}

// The names a user compares with the server's: the DNS and IP subject
// alternative names, or the subject's common name when there are none.
std::string certificate_names(PCCERT_CONTEXT certificate) {
  std::string names;
  for (const AlternativeName &name : alternative_names(certificate)) {
    names += (names.empty() ? "" : ", ") + name.text;
  }
  return names.empty() ? common_name(certificate) : names;
}

// Wine's SSL policy matches no iPAddress name, and Wine would send an
// address given as the target name as SNI: an address goes as no name and
// is matched here.
bool holds_address(PCCERT_CONTEXT certificate, const std::string &address) {
  const std::vector<AlternativeName> names = alternative_names(certificate);
  return std::any_of(names.begin(), names.end(),
                     [&](const AlternativeName &name) { return name.address == address; });
}

// What is wrong with the certificate the server sent; empty when nothing.
std::string certificate_fault(Session &session, const std::optional<std::string> &address,
                              HCERTSTORE ca_store) {
  PCCERT_CONTEXT remote = nullptr;
  SECURITY_STATUS status =
      QueryContextAttributesW(&session.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
  if (status != SEC_E_OK) return status_text(status);
  const Certificate leaf(remote);
  const Chain chain = build_chain(leaf.get(), ca_store);
  if (!chain) return status_text(HRESULT_FROM_WIN32(GetLastError()));
  // Wine's SSL policy passes a chain that stops short of a root: the
  // chain's own error bits decide first. Validity periods need not nest
  // (RFC 5280 6.1 does not ask it).
  DWORD errors =
      chain->TrustStatus.dwErrorStatus & ~static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_NESTED);
  if (ca_store != nullptr) {
    // The file's certificates are then the only trusted roots.
    if (!holds(ca_store, root_of(chain.get()))) return kNotTrusted;
    errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  }
  if ((errors & ~static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID)) != 0) return kNotTrusted;
  const HRESULT policy = ssl_policy_error(chain.get(), session, ca_store != nullptr);
  if (policy == CERT_E_UNTRUSTEDROOT || policy == CERT_E_CHAINING) return kNotTrusted;
  if (errors != 0 || policy == CERT_E_EXPIRED) return date_fault(chain.get());
  if (policy == CERT_E_CN_NO_MATCH || (address && !holds_address(leaf.get(), *address))) {
    return kCertificateIsFor + certificate_names(leaf.get());
  }
  if (policy != S_OK) return status_text(policy);
  return {};
}

// Checked after the handshake: Wine negotiates TLS 1.0 and 1.1 whatever
// SCH_CREDENTIALS disabled.
std::string protocol_fault(Session &session) {
  SecPkgContext_ConnectionInfo info{};
  SECURITY_STATUS status =
      QueryContextAttributesW(&session.context, SECPKG_ATTR_CONNECTION_INFO, &info);
  if (status != SEC_E_OK) return status_text(status);
  return (info.dwProtocol & kOldProtocols) != 0 ? kOldProtocol : "";
}

// ---- The stream

class TlsStream final : public Stream {
public:
  TlsStream(std::unique_ptr<Stream> plain, std::unique_ptr<Session> session, std::string encrypted,
            const SecPkgContext_StreamSizes &sizes)
      : plain_(std::move(plain)), session_(std::move(session)), sizes_(sizes),
        encrypted_(std::move(encrypted)) {}
  ~TlsStream() override { send_close_notify(); }
  TlsStream(const TlsStream &) = delete;
  TlsStream &operator=(const TlsStream &) = delete;

  Transfer send_some(std::string_view data, int timeout_ms) override;
  Transfer receive_some(char *buffer, std::size_t capacity, int timeout_ms) override;
  void send_without_delay() override { plain_->send_without_delay(); }

private:
  enum class Decrypted { some, need_bytes, peer_closed, failed };
  Decrypted decrypt_record();
  void send_close_notify();

  std::unique_ptr<Stream> plain_;
  std::unique_ptr<Session> session_;
  SecPkgContext_StreamSizes sizes_;
  std::string encrypted_; // received, not yet decrypted
  std::string decrypted_; // decrypted, not yet taken
  std::string record_;    // the record being sent, kept for its room
  bool peer_closed_ = false;
};

// One record of at most cbMaximumMessage bytes, sent whole: a record half
// sent cannot be taken back.
Transfer TlsStream::send_some(std::string_view data, int timeout_ms) {
  if (data.empty()) return {0, false};
  const Clock::time_point deadline = deadline_after(timeout_ms);
  const unsigned long length =
      static_cast<unsigned long>(std::min<std::size_t>(data.size(), sizes_.cbMaximumMessage));
  record_.resize(sizes_.cbHeader + length + sizes_.cbTrailer);
  char *header = record_.data();
  std::memcpy(header + sizes_.cbHeader, data.data(), length);
  SecBuffer buffers[4] = {
      {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, header},
      {length, SECBUFFER_DATA, header + sizes_.cbHeader},
      {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, header + sizes_.cbHeader + length},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
  if (EncryptMessage(&session_->context, 0, &description, 0) != SEC_E_OK) return {-1, false};
  const std::size_t size = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
  Sent sent = send_all(*plain_, {header, size}, deadline);
  if (sent == Sent::timed_out) return {0, true};
  if (sent == Sent::failed) return {-1, false};
  return {static_cast<long>(length), false};
}

Transfer TlsStream::receive_some(char *buffer, std::size_t capacity, int timeout_ms) {
  const Clock::time_point deadline = deadline_after(timeout_ms);
  while (decrypted_.empty()) {
    if (peer_closed_) return {0, false};
    Decrypted decrypted = decrypt_record();
    if (decrypted == Decrypted::failed) return {-1, false};
    if (decrypted == Decrypted::peer_closed) peer_closed_ = true;
    if (decrypted != Decrypted::need_bytes) continue;
    Transfer got = receive_into(*plain_, encrypted_, milliseconds_left(deadline));
    if (got.timed_out) return {0, true};
    if (got.count < 0) return {-1, false};
    if (got.count == 0) {
      // Closed without close_notify: an end, unless it cut a record short.
      peer_closed_ = true;
      if (!encrypted_.empty()) return {-1, false};
    }
  }
  const std::size_t count = std::min(capacity, decrypted_.size());
  std::memcpy(buffer, decrypted_.data(), count);
  decrypted_.erase(0, count);
  return {static_cast<long>(count), false};
}

TlsStream::Decrypted TlsStream::decrypt_record() {
  if (encrypted_.empty()) return Decrypted::need_bytes;
  SecBuffer buffers[4] = {
      {static_cast<unsigned long>(encrypted_.size()), SECBUFFER_DATA, encrypted_.data()},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
  // Up to TLS 1.2 a record's type is in the clear (RFC 5246 6.2.1).
  const bool alert = static_cast<unsigned char>(encrypted_[0]) == kAlertRecord;
  SECURITY_STATUS status = DecryptMessage(&session_->context, &description, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return Decrypted::need_bytes;
  // The server's close_notify (RFC 8446 6.1).
  if (status == SEC_I_CONTEXT_EXPIRED) return Decrypted::peer_closed;
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return Decrypted::failed;
  std::size_t extra = 0;
  std::size_t text = 0;
  for (const SecBuffer &buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA) {
      decrypted_.append(static_cast<const char *>(buffer.pvBuffer), buffer.cbBuffer);
      text += buffer.cbBuffer;
    }
    if (buffer.BufferType == SECBUFFER_EXTRA) extra = buffer.cbBuffer;
  }
  encrypted_.erase(0, encrypted_.size() - extra);
  // Wine's Schannel takes close_notify as an alert record that decrypts to
  // nothing, not as SEC_I_CONTEXT_EXPIRED; a fatal alert would have failed.
  if (status == SEC_E_OK && alert && text == 0) return Decrypted::peer_closed;
  if (status == SEC_I_RENEGOTIATE) {
    // Schannel hands TLS 1.3's post-handshake messages (a NewSessionTicket,
    // RFC 8446 4.6.1) back this way: they go into the handshake, and what
    // follows them is records again.
    if (run_handshake(*session_, *plain_, encrypted_).ending != Ending::done) {
      return Decrypted::failed;
    }
  }
  return Decrypted::some;
}

// Best effort, without waiting: the connection is ending either way.
void TlsStream::send_close_notify() {
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc control_description{SECBUFFER_VERSION, 1, &control};
  if (ApplyControlToken(&session_->context, &control_description) != SEC_E_OK) return;
  SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
  handshake_step(*session_, nullptr, token);
  send_token(*plain_, token, Clock::now());
}

} // namespace

ServerStart classify_server_start(std::string_view first_bytes) {
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(first_bytes[at]); };
  if (first_bytes.empty()) return ServerStart::tls;
  // No record type (20 to 23) is a printable character.
  if (byte(0) >= 0x20 && byte(0) < 0x7f) return ServerStart::clear_text;
  if (first_bytes.size() < 7) return ServerStart::tls;
  // To a client that offers TLS 1.2 and 1.3, a server of TLS 1.1 or older
  // answers protocol_version, in a record of version 1.2 like everyone's.
  // A server of TLS 1.3 alone answers the same to a client without it (Wine
  // 8, Windows 10, Windows Server 2019), and is then told of as older: it is
  // the rarer.
  if (byte(0) == kAlertRecord && byte(6) == kProtocolVersionAlert) {
    return ServerStart::old_protocol;
  }
  if (byte(0) == kHandshakeRecord && first_bytes.size() >= 11 && byte(5) == kServerHello) {
    const unsigned hello_version = byte(9) << 8 | byte(10);
    return hello_version < kTls12Version ? ServerStart::old_protocol : ServerStart::tls;
  }
  return ServerStart::tls;
}

std::optional<std::string> ip_literal_address(const std::string &server) {
  std::string text = server;
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  unsigned char address[16];
  if (inet_pton(AF_INET, text.c_str(), address) == 1) {
    return std::string(reinterpret_cast<const char *>(address), 4);
  }
  if (inet_pton(AF_INET6, text.c_str(), address) == 1) {
    return std::string(reinterpret_cast<const char *>(address), 16);
  }
  return std::nullopt;
}

TlsStart start_tls(std::unique_ptr<Stream> plain, const std::string &server,
                   const std::string &ca_file, int timeout_ms) {
  Store ca_store;
  if (!ca_file.empty()) {
    ca_store = read_ca_file(ca_file);
    if (!ca_store) return {nullptr, kUnreadableCaFile + ca_file};
  }
  const std::optional<std::string> address = ip_literal_address(server);
  auto session = std::make_unique<Session>();
  // RFC 6066 3: no SNI for an address.
  if (!address) session->target = widened(server);
  session->timeout_ms = timeout_ms;
  SECURITY_STATUS status = acquire_client_credentials(*session);
  if (status != SEC_E_OK) return {nullptr, status_text(status)};
  std::string after_handshake;
  Handshake handshake = run_handshake(*session, *plain, after_handshake);
  if (handshake.ending != Ending::done) return {nullptr, handshake_failure(handshake)};
  std::string fault = protocol_fault(*session);
  if (fault.empty()) fault = certificate_fault(*session, address, ca_store.get());
  if (!fault.empty()) return {nullptr, fault};
  SecPkgContext_StreamSizes sizes{};
  status = QueryContextAttributesW(&session->context, SECPKG_ATTR_STREAM_SIZES, &sizes);
  if (status != SEC_E_OK) return {nullptr, status_text(status)};
  return {std::make_unique<TlsStream>(std::move(plain), std::move(session),
                                      std::move(after_handshake), sizes),
          {}};
}

} // namespace platform
