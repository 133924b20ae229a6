#!/bin/sh
# Builds the packages and the installer from the build trees and uses each
# once: the manual page linted, the version checked everywhere, the Debian
# package linted, installed, run and removed, the .zip checked, the Windows
# installer run under Wine (install, one delivery, uninstall).
#
#   package-test.sh [--install-deb] [BUILD [WINDOWS_BUILD]]
#
# BUILD and WINDOWS_BUILD default to build/ and build-win/ as tools/test.sh
# makes them; both must be built. Installing the .deb with dpkg changes the
# machine, so it is done only with --install-deb or when CI=true (CI runs on
# a throwaway machine); otherwise the package is unpacked with dpkg-deb -x
# and the program run from there. Everything else stays in the build trees
# and in private namespaces.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
install_deb=false
[ "${CI:-}" = true ] && install_deb=true
if [ "${1:-}" = --install-deb ]; then
  install_deb=true
  shift
fi
build=$(cd "${1:-$root/build}" && pwd)
build_win=$(cd "${2:-$root/build-win}" && pwd)
work=$build/package-test
started=$(date +%s)
prefix=""

fail() {
  printf "package-test: %s\n" "$*" >&2
  exit 1
}

step() {
  echo "package-test: [$(($(date +%s) - started)) s] $*"
}

# The build trees and the Wine prefix stay reachable at their own paths.
in_namespaces() {
  /usr/bin/python3 "$root/tools/namespaces.py" --keep "$build" --keep "$build_win" ${prefix:+--keep "$prefix"} -- \
    /bin/sh "$root/tools/package-test-inside.sh" "$@"
}

rm -rf "$work"
mkdir -p "$work"

step "version"
version=$("$root/tools/check-version.sh" "$build/src/quillrun")

step "manual page: mandoc -Tlint"
lint=$(mandoc -Tlint "$build/packaging/quillrun.8" 2>&1) || true
[ -z "$lint" ] || fail "mandoc -Tlint: $lint"
grep -q "quillrun version $version" "$build/packaging/quillrun.8" ||
  fail "the manual page does not name version $version"

step "Debian package: cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack-deb.log") ||
  { cat "$work/cpack-deb.log" >&2; fail "cpack -G DEB failed"; }
deb=$work/deb/quillrun_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb"

# The package holds exactly these files, none of the names that belong to
# the mail transport agent (sendmail, mailq, newaliases).
expected="./usr/bin/quillrun
./usr/share/doc/quillrun/README.md.gz
./usr/share/doc/quillrun/bench/README.md.gz
./usr/share/doc/quillrun/changelog.gz
./usr/share/doc/quillrun/copyright
./usr/share/doc/quillrun/docs/behaviour.md.gz
./usr/share/doc/quillrun/docs/comparison.md.gz
./usr/share/doc/quillrun/docs/windows.md.gz
./usr/share/man/man8/quillrun.8.gz"
found=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
[ "$found" = "$expected" ] || fail "files in the .deb:
$found
expected:
$expected"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the .deb is not version $version"
[ "$(dpkg-deb -f "$deb" Section)" = mail ] || fail "the .deb is not in section mail"
for field in Provides Conflicts Replaces; do
  [ -z "$(dpkg-deb -f "$deb" "$field")" ] || fail "the .deb has a $field field"
done

step "Debian package: lintian"
# Errors and warnings fail; the remaining tags are information only (kept
# and explained in the README).
status=0
lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v '^N: running with root privileges' "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings"

if [ "$install_deb" = true ]; then
  step "Debian package: dpkg -i, one delivery, dpkg -r"
  if dpkg-query -W -f='${Status}' quillrun 2>/dev/null | grep -q "ok installed"; then
    fail "quillrun is installed on this machine already: not touching it"
  fi
  # The package comes off again whatever happens from here.
  trap 'dpkg -r quillrun >/dev/null 2>&1 || true' EXIT INT TERM
  dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
  dpkg -L quillrun | while read -r path; do [ -d "$path" ] || echo "$path"; done >"$work/installed-files"
  [ "$(/usr/bin/quillrun -version | head -n 1)" = "quillrun version $version" ] ||
    fail "the installed quillrun -version says: $(/usr/bin/quillrun -version | head -n 1)"
  man -w quillrun >/dev/null 2>&1 || [ ! -x /usr/bin/man ] || fail "man does not find quillrun(8)"
  in_namespaces deb /usr/bin/quillrun
  dpkg -r quillrun >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -r failed"; }
  trap - EXIT INT TERM
  if dpkg-query -W -f='${Status}' quillrun 2>/dev/null | grep -q "installed"; then
    fail "dpkg still lists quillrun: $(dpkg-query -W -f='${Status}' quillrun)"
  fi
  while read -r path; do
    [ ! -e "$path" ] || fail "left after dpkg -r: $path"
  done <"$work/installed-files"
  [ ! -e /usr/bin/quillrun ] || fail "/usr/bin/quillrun is left"
  [ ! -e /usr/share/doc/quillrun ] || fail "/usr/share/doc/quillrun is left"
else
  step "Debian package: unpacked (dpkg -i only with --install-deb or CI=true), one delivery"
  dpkg-deb -x "$deb" "$work/deb-root"
  [ "$("$work/deb-root/usr/bin/quillrun" -version | head -n 1)" = "quillrun version $version" ] ||
    fail "the packaged quillrun -version is not $version"
  in_namespaces deb "$work/deb-root/usr/bin/quillrun"
fi

step "Windows package: cpack -G ZIP"
(cd "$build_win" && cpack -G ZIP -B "$work/zip" >"$work/cpack-zip.log") ||
  { cat "$work/cpack-zip.log" >&2; fail "cpack -G ZIP failed"; }
zip=$work/zip/quillrun-$version-win64.zip
[ -f "$zip" ] || fail "no $zip"
/usr/bin/python3 - "$zip" <<'EOF' || fail "the .zip is not as it should be"
import sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
names = sorted(archive.namelist())
expected = ["LICENSE.txt", "README.txt", "mailq.exe", "newaliases.exe", "quillrun.8.html",
            "quillrun.8.txt", "quillrun.exe", "quillrun.ini.sample", "tidewharf.ini.sample"]
if names != expected:
    sys.exit(f"files in the .zip: {names}")
program = archive.read("quillrun.exe")
# Copies, not links: the same bytes under three names.
if archive.read("mailq.exe") != program or archive.read("newaliases.exe") != program:
    sys.exit("mailq.exe or newaliases.exe is not a copy of quillrun.exe")
readme = archive.read("README.txt")
if not readme.isascii() or max(len(line) for line in readme.split(b"\r\n")) > 78:
    sys.exit("README.txt is not short ASCII lines, for any Notepad")
for name in ["LICENSE.txt", "README.txt", "quillrun.8.txt", "tidewharf.ini.sample",
             "quillrun.ini.sample"]:
    text = archive.read(name)
    if text.count(b"\n") != text.count(b"\r\n") or b"\b" in text:
        sys.exit(f"{name} is not plain text with CR LF line ends")
samples = {
    "tidewharf.ini.sample": ["g_smtp_port", "g_work", "g_quillrun_domain"],
    "quillrun.ini.sample": ["host", "port", "tls", "tls_ca_file", "user", "auth",
                            "password_file", "password_command", "password", "oauth2_grant",
                            "oauth2_tenant", "oauth2_token_url", "oauth2_client_id",
                            "oauth2_scope", "oauth2_client_secret", "oauth2_token_cache",
                            "oauth2_proxy", "log_directory", "log_file"],
}
for name, keys in samples.items():
    sample = archive.read(name).decode("ascii")
    for key in keys:
        if f"\n; {key} " not in sample:
            sys.exit(f"{name} lacks {key}")
    # Copied or merged as it is, a sample sets no key: quillrun.ini's would
    # turn TLS and a login on with example values.
    if any(line and not line.startswith(";") for line in sample.splitlines()):
        sys.exit(f"{name} sets a key")
EOF

step "Windows installer: makensis"
cmake --build "$build_win" --target installer >"$work/installer.log" 2>&1 ||
  { cat "$work/installer.log" >&2; fail "building the installer failed"; }
setup=$build_win/quillrun-$version-setup.exe
[ -f "$setup" ] || fail "no $setup"

step "Windows installer: under Wine, silent install, one delivery, silent uninstall"
prefix=$(sed -n 's/^QUILLRUN_WINEPREFIX:PATH=//p' "$build_win/CMakeCache.txt")
[ -n "$prefix" ] || fail "$build_win has no Wine prefix configured (is Wine installed?)"
WINEPREFIX=$prefix QUILLRUN_WINE=wine /bin/sh "$root/cmake/wine-run.sh" --prepare
in_namespaces windows "$setup" "$prefix" "$version"

step "done: $deb, $zip, $setup"
