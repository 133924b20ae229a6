#!/bin/sh
# Everything CI runs: the packages the build and the tests need, then one
# workflow preset per tree (CMakePresets.json: configure, build, test), then
# the packages built, installed, used and removed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/fetch-mail-servers.sh
cmake --workflow --preset native
# The Windows tree's tests and the package test mostly wait for Wine: they
# run beside the sanitizer and fuzzing trees, their output shown at the end.
beside_log=$(mktemp)
trap 'rm -f "$beside_log"' EXIT
{ cmake --workflow --preset windows && tools/package-test.sh build build-win; } >"$beside_log" 2>&1 &
beside=$!
cmake --workflow --preset sanitize
cmake --workflow --preset fuzz
beside_status=0
wait "$beside" || beside_status=$?
cat "$beside_log"
exit "$beside_status"
