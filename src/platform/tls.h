// TLS over a connection's plain stream (RFC 8446, RFC 5246): the client side
// only, TLS 1.2 or later, and the server's certificate verified before a byte
// of mail goes through it: the chain up to a trusted root, the validity
// dates, and the name of the server (RFC 6125) or, for an IP literal, its
// address. OpenSSL 3 behind tls_posix.cpp, Schannel behind tls_win32.cpp
// (its certificate check by hand in tls_verify_win32.cpp); the failures in
// words and what both read alike in tls_common.h.
#pragma once

#include "platform/stream.h"
#include "platform/tls_facts.h"

#include <memory>
#include <string>

namespace platform {

/// The private CA a server's certificate must chain to instead of the
/// system's roots: the PEM text of the file quillrun.ini names, as read once
/// and judged (read_regular_file), so that the file trusted is the file
/// judged; the path names it in messages.
struct CaFile {
  std::string path; ///< empty: the system's roots
  std::string pem;  ///< the file's text; empty when it could not be read
};

struct TlsStart {
  std::unique_ptr<Stream> stream; ///< the encrypted stream; nullptr when TLS failed
  std::string failure; ///< then why, in words (tls_common.h), for "TLS with HOST failed: ..."
  TlsFacts facts;      ///< else what was agreed on, and the certificate the server sent
};

/// Runs the TLS handshake with `server` over `plain` (which it takes over)
/// within `timeout_ms` milliseconds, and checks the server's certificate.
/// `server` is a host name, sent as SNI and matched against the
/// certificate's names, or an IPv4 or IPv6 literal (brackets allowed), sent
/// as no SNI and matched against the certificate's IP addresses. The trusted
/// roots are the system's, or, when `ca_file` names a file, only the
/// certificates of its text. The failure names the fault as a user can act
/// on it: an untrusted chain, an expired or not yet valid certificate, a
/// name that does not match (naming the certificate's names), a protocol
/// older than TLS 1.2, a server that answered in clear text, a CA file
/// unread or holding no certificate, or one that does not parse
/// (kUnreadableCaFile and its path), the connection lost or the time run
/// out.
TlsStart start_tls(std::unique_ptr<Stream> plain, const std::string &server, const CaFile &ca_file,
                   int timeout_ms);

} // namespace platform
