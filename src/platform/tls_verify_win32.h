// Windows only: the server's certificate checked by hand after Schannel's
// handshake. Schannel under Wine validates none, so it is done here, on
// Windows the same way: the chain to a trusted root, the SSL policy (dates
// and name), and an IP literal matched against the certificate's addresses.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <memory>
#include <optional>
#include <string>

namespace platform {

struct CertificateStoreClose {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertificateStore = std::unique_ptr<void, CertificateStoreClose>;

/// The certificates of the PEM file at `path` (RFC 7468) in a store of
/// their own; nothing when the file cannot be read or holds no certificate.
CertificateStore read_ca_file(const std::string &path);

/// What is wrong with `leaf`, the certificate the server sent (the rest of
/// its chain in leaf's store), in the words of tls_common.h; empty when
/// nothing. `name` is the server's name, or nullptr for an IP literal, whose
/// 4 or 16 bytes `address` holds. With `ca_store` its certificates are the
/// only trusted roots, else the system's are.
std::string certificate_fault(PCCERT_CONTEXT leaf, const wchar_t *name,
                              const std::optional<std::string> &address, HCERTSTORE ca_store);

} // namespace platform
