#!/bin/sh
# Everything CI runs: the packages the build and the tests need, then one
# workflow preset per tree (CMakePresets.json: configure, build, test), then
# the packages built, installed, used and removed.
set -eu
cd "$(dirname "$0")/.."
started=$(date +%s)
# Where the time goes: each tree's end, in seconds from the start.
stamp() { echo "test.sh: [$(($(date +%s) - started)) s] $*"; }
tools/install-deps.sh
tools/fetch-mail-servers.sh
cmake --workflow --preset native
stamp "native tree done"
# The Windows tree's tests and the package test mostly wait for Wine: they
# run beside the sanitizer and fuzzing trees, their output shown at the end.
beside_log=$(mktemp)
trap 'rm -f "$beside_log"' EXIT
{ cmake --workflow --preset windows && stamp "Windows tree done" &&
  tools/package-test.sh build build-win && stamp "package test done"; } >"$beside_log" 2>&1 &
beside=$!
cmake --workflow --preset sanitize
stamp "sanitized tree done"
cmake --workflow --preset fuzz
stamp "fuzzing tree done"
beside_status=0
wait "$beside" || beside_status=$?
cat "$beside_log"
exit "$beside_status"
