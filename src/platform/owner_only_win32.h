// Windows only: the security of a file that only the running user may open,
// for the files the program creates (the spool file, new logs).
#pragma once

#include <windows.h>

#include <vector>

namespace platform {

/// That user owns the file, and its access list, closed to inherited
/// entries, has one entry granting that user full access. Administrators and
/// SYSTEM get no entry.
class OwnerOnlySecurity {
public:
  OwnerOnlySecurity();
  OwnerOnlySecurity(const OwnerOnlySecurity &) = delete;
  OwnerOnlySecurity &operator=(const OwnerOnlySecurity &) = delete;

  /// nullptr when the user or the descriptor could not be had.
  SECURITY_ATTRIBUTES *attributes() { return ready_ ? &attributes_ : nullptr; }

private:
  std::vector<unsigned char> user_; // TOKEN_USER; the SID points into it
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

} // namespace platform
