#!/bin/sh
# Builds quillrun with warnings as errors and runs every test, the unit tests
# and the end-to-end tests against the real binary: first the native build,
# then the Windows build under Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/tools/install-deps.sh"
"$root/tools/fetch-mail-servers.sh"

# BUILD_TESTING is set outright: tools/demo.sh builds the same tree without
# the tests, and a cached OFF would leave nothing to run.
cmake -S "$root" -B "$root/build" -DQUILLRUN_WERROR=ON -DBUILD_TESTING=ON >/dev/null
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j"$jobs"

cmake -S "$root" -B "$root/build-win" -DQUILLRUN_WERROR=ON -DBUILD_TESTING=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build-win" -j"$jobs"
ctest --test-dir "$root/build-win" --output-on-failure --no-tests=error -j"$jobs"
