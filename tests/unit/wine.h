// Under Wine the Windows build meets a few places where Wine's runtime does
// not behave as Windows' does; tests that rely on them skip there.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace unit {

/// True when the Windows build runs under Wine (its ntdll exports
/// wine_get_version; Windows' does not).
inline bool running_under_wine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// Windows' runtime sets the error indicator when fread is called on a stream
// opened for writing only (its read of the descriptor fails); Wine's msvcrt
// returns 0 and sets neither the error nor the end-of-file indicator.
inline constexpr const char *kWineFreadOnWriteOnlyStream =
    "Wine's msvcrt fread on a write-only stream returns 0 without setting the error "
    "indicator; Windows' runtime reports a read error";

// Windows keeps a file's security descriptor with the file; Wine keeps none:
// it turns the access list given at creation into Unix permission bits (an
// entry for the owner gives the owner's access to the Unix owner and group)
// and reports a descriptor made up from those bits (SYSTEM and the owner,
// not protected), whatever was set.
inline constexpr const char *kWineFileSecurity =
    "Wine stores no file security descriptor; it maps the access list to Unix permission "
    "bits and reports one made up from them (SYSTEM and owner entries, not protected)";

} // namespace unit
