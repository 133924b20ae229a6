#!/bin/sh
# Builds quillrun with warnings as errors and runs every test: the unit tests
# and the end-to-end tests against the real binary, natively (Release, as
# shipped), under AddressSanitizer and UndefinedBehaviorSanitizer, and for
# the Windows build under Wine; then the fuzz targets and the packages.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/tools/install-deps.sh"
"$root/tools/fetch-mail-servers.sh"

# Configures, builds and tests one tree. BUILD_TESTING is set outright:
# tools/demo.sh builds build/ without the tests, and a cached OFF would leave
# nothing to run.
run_tests() {
  dir=$1
  shift
  cmake -S "$root" -B "$root/$dir" -DQUILLRUN_WERROR=ON -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "$root/$dir" -j"$jobs"
  ctest --test-dir "$root/$dir" --output-on-failure --no-tests=error -j"$jobs"
}

run_tests build -DCMAKE_BUILD_TYPE=Release
run_tests build-asan -DQUILLRUN_SANITIZE=ON
"$root/tools/fuzz.sh" 30
run_tests build-win -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"

# The packages and the installer: built, installed, used once and removed.
"$root/tools/package-test.sh" "$root/build" "$root/build-win"
