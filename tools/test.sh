#!/bin/sh
# Everything CI runs: the packages the build and the tests need, then one
# workflow preset per tree (CMakePresets.json: configure, build, test), then
# the packages built, installed, used and removed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/fetch-mail-servers.sh
# The Windows tree's end-to-end tests spend most of their time waiting for
# Wine: the tree runs beside the other three, its output shown when it ends.
windows_log=$(mktemp)
trap 'rm -f "$windows_log"' EXIT
cmake --workflow --preset windows >"$windows_log" 2>&1 &
windows=$!
for preset in native sanitize fuzz; do
  cmake --workflow --preset "$preset"
done
windows_status=0
wait "$windows" || windows_status=$?
cat "$windows_log"
[ "$windows_status" -eq 0 ] || exit "$windows_status"
tools/package-test.sh build build-win
