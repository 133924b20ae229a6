#!/bin/sh
# Builds quillrun with warnings as errors and runs every test: the unit tests
# and the end-to-end tests against the real binary.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -DQUILLRUN_WERROR=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)"
ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)"
