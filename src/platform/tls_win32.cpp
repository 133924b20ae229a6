// TLS with Schannel: the session and its record layer. Schannel under Wine
// validates no certificate and ignores the protocol mask of
// SCH_CREDENTIALS, so both are checked by hand after the handshake
// (tls_verify_win32.cpp), on Windows the same way.
#include "platform/tls.h"

#include "platform/deadline.h"
#include "platform/text_win32.h"
#include "platform/tls_common.h"
#include "platform/tls_verify_win32.h"

#include <windows.h>

#define SECURITY_WIN32
#include <security.h>

// SCH_CREDENTIALS and TLS_PARAMETERS (mingw-w64 10 needs subauth.h first).
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>

#include <schannel.h>

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

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

// One receive from `plain`, appended to `bytes`.
Transfer receive_into(Stream &plain, std::string &bytes, int timeout_ms) {
  const std::size_t had = bytes.size();
  bytes.resize(had + kReceiveChunk);
  Transfer got = plain.receive_some(bytes.data() + had, kReceiveChunk, timeout_ms);
  bytes.resize(had + (got.count > 0 ? static_cast<std::size_t>(got.count) : 0));
  return got;
}

// The handles of one session, the context released before the credentials
// it was made with.
struct Session {
  CredHandle credentials{};
  CtxtHandle context{};
  bool has_credentials = false;
  bool has_context = false;
  std::wstring target; ///< SNI; empty for an IP literal
  int timeout_ms = 0;  ///< for each handshake, the first and any the server asks for later
  DWORD protocol = 0;  ///< the protocol negotiated (SP_PROT_*)

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
Moved send_token(Stream &plain, SecBuffer &token, Clock::time_point deadline) {
  if (token.pvBuffer == nullptr) return Moved::done;
  Moved sent =
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
  const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(session.timeout_ms));
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
    Moved sent = send_token(plain, token, deadline);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      need_bytes = true;
      continue;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
      return {Ending::refused, status, result.start};
    }
    if (sent == Moved::timed_out) return {Ending::no_answer, 0, result.start};
    if (sent == Moved::lost) return {Ending::lost, 0, result.start};
    if (status == SEC_E_OK) return result;
    need_bytes = input.empty();
  }
}

std::string handshake_failure(const Handshake &handshake) {
  if (handshake.start == ServerStart::clear_text) return kClearText;
  if (handshake.start == ServerStart::old_protocol) return kOldProtocol;
  if (handshake.ending == Ending::no_answer) return kNoAnswer;
  if (handshake.ending == Ending::lost) return kConnectionLost;
  return handshake_failed(handshake.status);
}

// Why a record the server sent failed: a record that did not decrypt, an
// alert (its type in the clear up to TLS 1.2, RFC 5246 6.2.1; Schannel
// names no alert, so its status stands for it), or any other status.
std::string record_fault(SECURITY_STATUS status, bool alert) {
  if (status == SEC_E_DECRYPT_FAILURE || status == SEC_E_MESSAGE_ALTERED) return kRecordFailed;
  return alert ? alert_received(status_code(status)) : record_failed(status_code(status));
}

struct CipherName {
  ALG_ID cipher;
  const char *name;
};

// Schannel names the cipher alone, not the suite (Wine knows no
// SECPKG_ATTR_CIPHER_INFO): those TLS 1.2 and 1.3 may agree on.
constexpr CipherName kCipherNames[] = {{CALG_AES_128, "AES-128"},
                                       {CALG_AES_192, "AES-192"},
                                       {CALG_AES_256, "AES-256"},
                                       {CALG_3DES, "3DES"}};

std::string cipher_name(ALG_ID cipher) {
  for (const CipherName &row : kCipherNames) {
    if (row.cipher == cipher) return row.name;
  }
  return "ALG_ID " + status_code(static_cast<long>(cipher));
}

unsigned wire_version(DWORD protocol) {
  if ((protocol & SP_PROT_TLS1_3) != 0) return 0x0304;
  return (protocol & SP_PROT_TLS1_2) != 0 ? 0x0303 : 0;
}

// What is wrong with the connection made: a protocol older than TLS 1.2
// (Wine negotiates TLS 1.0 and 1.1 whatever SCH_CREDENTIALS disabled) or
// the server's certificate; empty when nothing, and then `facts` tell of it.
std::string connection_fault(Session &session, const std::string &server, HCERTSTORE ca_store,
                             TlsFacts &facts) {
  SecPkgContext_ConnectionInfo info{};
  SECURITY_STATUS status =
      QueryContextAttributesW(&session.context, SECPKG_ATTR_CONNECTION_INFO, &info);
  if (status != SEC_E_OK) return handshake_failed(status);
  session.protocol = info.dwProtocol;
  if ((info.dwProtocol & kOldProtocols) != 0) return kOldProtocol;
  PCCERT_CONTEXT leaf = nullptr;
  status = QueryContextAttributesW(&session.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &leaf);
  if (status != SEC_E_OK) return handshake_failed(status);
  std::string fault = certificate_fault(leaf, server, ca_store);
  if (fault.empty()) {
    facts.version = wire_version(info.dwProtocol);
    facts.cipher = cipher_name(info.aiCipher);
    describe_certificate(leaf, facts);
  }
  CertFreeCertificateContext(leaf);
  return fault;
}

class TlsStream final : public Stream {
public:
  TlsStream(std::unique_ptr<Stream> plain, std::unique_ptr<Session> session, std::string encrypted,
            const SecPkgContext_StreamSizes &sizes)
      : plain_(std::move(plain)), session_(std::move(session)), sizes_(sizes),
        encrypted_(std::move(encrypted)) {}
  ~TlsStream() override {
    if (!broken_) send_close_notify();
  }
  TlsStream(const TlsStream &) = delete;
  TlsStream &operator=(const TlsStream &) = delete;

  // One record of at most cbMaximumMessage bytes, sent whole: a record half
  // sent cannot be taken back.
  Transfer send_some(std::string_view data, int timeout_ms) override {
    if (broken_) return {-1, false};
    if (data.empty()) return {0, false};
    const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(timeout_ms));
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
    SECURITY_STATUS status = EncryptMessage(&session_->context, 0, &description, 0);
    if (status != SEC_E_OK) return broken(Moved::lost, record_failed(status_code(status)));
    const std::size_t size = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    Moved sent = send_all(*plain_, {header, size}, deadline);
    if (sent != Moved::done) return broken(sent, sent == Moved::lost ? kStreamLost : "");
    return {static_cast<long>(length), false};
  }

  Transfer receive_some(char *buffer, std::size_t capacity, int timeout_ms) override {
    if (broken_) return {-1, false};
    const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(timeout_ms));
    while (decrypted_.empty()) {
      if (peer_closed_) return {0, false};
      std::string why;
      Decrypted decrypted = decrypt_record(why);
      if (decrypted == Decrypted::failed) return broken(Moved::lost, std::move(why));
      if (decrypted == Decrypted::peer_closed) peer_closed_ = true;
      if (decrypted != Decrypted::need_bytes) continue;
      Transfer got = receive_into(*plain_, encrypted_, milliseconds_left(deadline));
      if (got.timed_out) return {0, true};
      // A close without close_notify may have cut the text short (RFC 8446
      // 6.1): an error, as OpenSSL has it.
      if (got.count == 0) return broken(Moved::closed, kClosedWithoutNotify);
      if (got.count < 0) return broken(Moved::lost, kStreamLost);
    }
    const std::size_t count = std::min(capacity, decrypted_.size());
    std::memcpy(buffer, decrypted_.data(), count);
    decrypted_.erase(0, count);
    return {static_cast<long>(count), false};
  }

  void send_without_delay() override { plain_->send_without_delay(); }

  std::string failure() const override { return failure_; }

private:
  enum class Decrypted { some, need_bytes, peer_closed, failed };

  // The next record of what was received; when it failed, `why` in words.
  Decrypted decrypt_record(std::string &why) {
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
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
      why = record_fault(status, alert);
      return Decrypted::failed;
    }
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
      // Up to TLS 1.2 it is a HelloRequest (RFC 5246 7.4.1.1), refused as
      // OpenSSL refuses it. Schannel hands TLS 1.3's post-handshake messages
      // (a NewSessionTicket, RFC 8446 4.6.1) back this way too: they go into
      // the handshake, and what follows them is records again.
      if ((session_->protocol & SP_PROT_TLS1_3_CLIENT) == 0) {
        why = kRenegotiationAsked;
        return Decrypted::failed;
      }
      const Handshake handshake = run_handshake(*session_, *plain_, encrypted_);
      if (handshake.ending != Ending::done) {
        why = handshake_failure(handshake);
        return Decrypted::failed;
      }
    }
    return Decrypted::some;
  }

  // Best effort, without waiting: the connection is ending either way.
  void send_close_notify() {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc control_description{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&session_->context, &control_description) != SEC_E_OK) return;
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    handshake_step(*session_, nullptr, token);
    send_token(*plain_, token, Clock::now());
  }

  // Nothing more goes after a fault, or after a record sent in part; `why`
  // the stream broke, in words for failure().
  Transfer broken(Moved how, std::string why) {
    broken_ = true;
    failure_ = std::move(why);
    return {how == Moved::timed_out ? 0 : -1, how == Moved::timed_out};
  }

  std::unique_ptr<Stream> plain_;
  std::unique_ptr<Session> session_;
  SecPkgContext_StreamSizes sizes_;
  std::string encrypted_;    // received, not yet decrypted
  std::string decrypted_;    // decrypted, not yet taken
  std::string record_;       // the record being sent, kept for its room
  bool peer_closed_ = false; // its close_notify came
  bool broken_ = false;      // a record sent in part or a fault: nothing more goes
  std::string failure_;      // why it broke; empty for a send out of time
};

} // namespace

TlsStart start_tls(std::unique_ptr<Stream> plain, const std::string &server, const CaFile &ca_file,
                   int timeout_ms) {
  CertificateStore ca_store;
  if (!ca_file.path.empty()) {
    ca_store = read_ca_certificates(ca_file.pem);
    if (!ca_store) return {nullptr, kUnreadableCaFile + ca_file.path, {}};
  }
  auto session = std::make_unique<Session>();
  // RFC 6066 3: no SNI for an address.
  if (!ip_literal_address(server)) session->target = wide_text(server);
  session->timeout_ms = timeout_ms;
  SECURITY_STATUS status = acquire_client_credentials(*session);
  if (status != SEC_E_OK) return {nullptr, handshake_failed(status), {}};
  std::string after_handshake;
  Handshake handshake = run_handshake(*session, *plain, after_handshake);
  if (handshake.ending != Ending::done) return {nullptr, handshake_failure(handshake), {}};
  TlsFacts facts;
  std::string fault = connection_fault(*session, server, ca_store.get(), facts);
  if (!fault.empty()) return {nullptr, fault, {}};
  SecPkgContext_StreamSizes sizes{};
  status = QueryContextAttributesW(&session->context, SECPKG_ATTR_STREAM_SIZES, &sizes);
  if (status != SEC_E_OK) return {nullptr, handshake_failed(status), {}};
  return {std::make_unique<TlsStream>(std::move(plain), std::move(session),
                                      std::move(after_handshake), sizes),
          {},
          std::move(facts)};
}

} // namespace platform
