#include "platform/tls_verify_win32.h"

#include "platform/text_win32.h"
#include "platform/tls_common.h"
#include "text/ascii.h"

// Only for SECURITY_FLAG_IGNORE_UNKNOWN_CA, a flag of the SSL policy.
#include <wininet.h>

#include <vector>

namespace platform {
namespace {

struct ChainFree {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

// The chain from `leaf` to a root, built with the certificates the server
// sent and those of the CA file, for a TLS server's use (RFC 5280 4.2.1.12).
Chain build_chain(PCCERT_CONTEXT leaf, HCERTSTORE ca_store) {
  CertificateStore extra(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
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
  PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                    certificate, nullptr);
  const bool held = found != nullptr;
  CertFreeCertificateContext(found);
  return held;
}

// The SSL policy's verdict on chain and dates; the name is matched by
// name_matches, the same rule as on every platform, so none is asked. With
// a CA file an unknown root is let pass here: it has been checked against
// the file.
HRESULT ssl_policy_error(PCCERT_CHAIN_CONTEXT chain, bool own_roots) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = own_roots ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0;
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

std::string common_name(PCCERT_CONTEXT certificate) {
  void *oid = const_cast<char *>(szOID_COMMON_NAME);
  DWORD size = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, oid, nullptr, 0);
  std::wstring name(size, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, oid, name.data(), size);
  name.resize(size > 0 ? size - 1 : 0);
  return utf8_text(name);
}

// The DNS names and IP addresses of the certificate's subject alternative
// names (read from the DER: CryptDecodeObjectEx hands a DNS name over as a
// string that a NUL would end); its subject's common name when it has none
// (RFC 6125 6.4.4).
std::vector<CertificateName> certificate_names(PCCERT_CONTEXT certificate) {
  const CERT_INFO *info = certificate->pCertInfo;
  PCERT_EXTENSION extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  std::vector<CertificateName> names;
  if (extension != nullptr) {
    names = alternative_names(
        {reinterpret_cast<const char *>(extension->Value.pbData), extension->Value.cbData});
  }
  if (names.empty()) names.push_back({false, common_name(certificate)});
  return names;
}

// The issuer most specific part first, as RFC 4514 has it, with ", "
// between the parts and a value that holds a separator in quotes.
std::string issuer_text(PCCERT_CONTEXT certificate) {
  constexpr DWORD kForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  CERT_NAME_BLOB *issuer = &certificate->pCertInfo->Issuer;
  const DWORD size = CertNameToStrW(X509_ASN_ENCODING, issuer, kForm, nullptr, 0);
  std::wstring text(size, L'\0');
  CertNameToStrW(X509_ASN_ENCODING, issuer, kForm, text.data(), size);
  text.resize(size > 0 ? size - 1 : 0);
  return ascii::printable(utf8_text(text));
}

std::int64_t expiry_of(PCCERT_CONTEXT certificate) {
  SYSTEMTIME when{};
  if (!FileTimeToSystemTime(&certificate->pCertInfo->NotAfter, &when)) return 0;
  return utc_seconds(when.wYear, when.wMonth, when.wDay, when.wHour, when.wMinute, when.wSecond);
}

} // namespace

CertificateStore read_ca_certificates(std::string_view pem) {
  CertificateStore store(
      CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (!store) return nullptr;
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::size_t found = 0;
  for (std::size_t begin = pem.find(kBegin); begin != std::string_view::npos;
       begin = pem.find(kBegin, begin + 1)) {
    std::size_t end = pem.find(kEnd, begin);
    if (end == std::string_view::npos) return nullptr;
    // Base64 decodes to less than its length: room enough.
    const DWORD length = static_cast<DWORD>(end + kEnd.size() - begin);
    DWORD size = length;
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

std::string certificate_fault(PCCERT_CONTEXT leaf, const std::string &server, HCERTSTORE ca_store) {
  const Chain chain = build_chain(leaf, ca_store);
  if (!chain) {
    return handshake_failed(HRESULT_FROM_WIN32(GetLastError()));
  }
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
  const HRESULT policy = ssl_policy_error(chain.get(), ca_store != nullptr);
  if (policy == CERT_E_UNTRUSTEDROOT || policy == CERT_E_CHAINING) return kNotTrusted;
  if (errors != 0 || policy == CERT_E_EXPIRED) return date_fault(chain.get());
  if (policy != S_OK) return handshake_failed(policy);
  const std::vector<CertificateName> names = certificate_names(leaf);
  if (!name_matches(server, names)) return kCertificateIsFor + names_text(names);
  return {};
}

void describe_certificate(PCCERT_CONTEXT leaf, TlsFacts &facts) {
  facts.names = certificate_names(leaf);
  facts.issuer = issuer_text(leaf);
  facts.expires = expiry_of(leaf);
}

} // namespace platform
