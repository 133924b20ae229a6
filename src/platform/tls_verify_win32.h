// Windows only: the server's certificate checked by hand after Schannel's
// handshake, and described. Schannel under Wine validates none, so it is done here, on
// Windows the same way: the chain to a trusted root, the SSL policy (its
// dates), and the server's name by the rule of every platform
// (name_matches in tls_common.h).
#pragma once

#include "platform/tls_facts.h"

#include <windows.h>

#include <wincrypt.h>

#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct CertificateStoreClose {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertificateStore = std::unique_ptr<void, CertificateStoreClose>;

/// The certificates of `pem`, a CA file's text (RFC 7468), in a store of
/// their own; nothing when it holds no certificate, or one that does not
/// parse.
CertificateStore read_ca_certificates(std::string_view pem);

/// What is wrong with `leaf`, the certificate the server sent (the rest of
/// its chain in leaf's store), in the words of tls_common.h; empty when
/// nothing. `server` is the server's name or IP literal, as asked for. With
/// `ca_store` its certificates are the only trusted roots, else the
/// system's are. The faults in the order they are looked for: trust,
/// dates, then the name.
std::string certificate_fault(PCCERT_CONTEXT leaf, const std::string &server, HCERTSTORE ca_store);

/// Puts into `facts` what `leaf` tells of itself: its names, its issuer and
/// when it expires.
void describe_certificate(PCCERT_CONTEXT leaf, TlsFacts &facts);

} // namespace platform
