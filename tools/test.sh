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
# The Windows tree's tests and the package test mostly wait for Wine, and
# the fuzzing tree is short: both run beside the sanitizer tree, their output
# shown at the end.
beside_logs=$(mktemp -d)
trap 'rm -rf "$beside_logs"' EXIT
{ cmake --workflow --preset windows && stamp "Windows tree done" &&
  tools/package-test.sh build build-win && stamp "package test done"; } >"$beside_logs/windows" 2>&1 &
windows=$!
{ cmake --workflow --preset fuzz && stamp "fuzzing tree done"; } >"$beside_logs/fuzz" 2>&1 &
fuzz=$!
cmake --workflow --preset sanitize
stamp "sanitized tree done"
status=0
wait "$fuzz" || status=$?
cat "$beside_logs/fuzz"
wait "$windows" || status=$?
cat "$beside_logs/windows"
exit "$status"
