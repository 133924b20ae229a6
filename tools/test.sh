#!/bin/sh
# Everything CI runs: the packages the build and the tests need, then one
# workflow preset per tree (CMakePresets.json: configure, build, test), then
# the packages built, installed, used and removed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/fetch-mail-servers.sh
for preset in native sanitize fuzz windows; do
  cmake --workflow --preset "$preset"
done
tools/package-test.sh build build-win
