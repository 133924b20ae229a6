#!/bin/sh
# Fetches Debian's Postfix and OpenSMTPD packages and unpacks each into a
# directory of its own, for tests/e2e/test_real_servers.py. Nothing is
# installed from them: both are mail transport agents (they conflict with each
# other, and installing either would start a service on the machine). The
# tests lay an unpacked tree over /usr inside their own namespaces.
#
#   tools/fetch-mail-servers.sh [cache-dir]     (default: build/mail-servers)
#
# Leaves <cache-dir>/postfix and <cache-dir>/opensmtpd (the unpacked trees)
# and the .deb files beside them. An unpacked tree that is already there is
# reused, so this works offline once fetched. The plain shared libraries the
# servers link against are installed with apt-get when missing.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${1:-$root/build/mail-servers}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
export DEBIAN_FRONTEND=noninteractive

updated=""
apt_update() {
  [ -n "$updated" ] || apt-get update -qq
  updated=yes
}

# apt-get download writes into the current directory; its sandbox user
# cannot write there, so it runs as root (apt says so in a warning).
cd "$cache"
for server in postfix opensmtpd; do
  [ -d "$cache/$server/usr/sbin" ] && continue
  if ! ls "$cache/$server"_*.deb >/dev/null 2>&1; then
    apt-get download "$server" 2>/dev/null || { apt_update && apt-get download "$server"; }
  fi
  rm -rf "$cache/$server.tmp"
  dpkg-deb -x "$cache/$server"_*.deb "$cache/$server.tmp"
  mv "$cache/$server.tmp" "$cache/$server"
done

# The libraries: every lib* / zlib* package the two packages depend on (the
# rest of their dependencies serve installing them, which the tests do not).
missing=""
for package in $(for deb in "$cache"/postfix_*.deb "$cache"/opensmtpd_*.deb; do
                   [ -f "$deb" ] && dpkg-deb -f "$deb" Depends | tr ',|' '\n\n'
                 done | sed 's/(.*//; s/[[:space:]]//g' | grep -E '^(lib|zlib)' | sort -u); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $package"
done
if [ -n "$missing" ]; then
  apt_update
  apt-get install -y -qq --no-install-recommends $missing
fi
