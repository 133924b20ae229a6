#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, replays every input checked in
# under fuzz/corpus/<target>/ as a regression, then fuzzes each target for
# SECONDS seconds (default 30), two targets at a time. New inputs go to a
# scratch directory, so the checked-in corpus does not grow. Fails on any
# crash, property violation, leak, time-out or sanitizer report, and shows
# the report; an input found failing by fuzzing is kept under
# build-fuzz/fuzz-artifacts/.
#
#   tools/fuzz.sh [SECONDS]
#
# To fuzz one target for longer and keep what it finds, fuzz into a new
# directory, then merge what adds coverage into the corpus:
#   build-fuzz/fuzz/fuzz_intake -max_len=10000 -entropic_scale_per_exec_time=1 \
#     -max_total_time=3600 new/ fuzz/corpus/fuzz_intake
#   build-fuzz/fuzz/fuzz_intake -max_len=10000 -merge=1 fuzz/corpus/fuzz_intake new/
set -eu
seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
targets="fuzz_command_line fuzz_header_addresses fuzz_envelope_address fuzz_ini fuzz_intake fuzz_reply
  fuzz_smtp_command"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz.sh: clang++ not found (Debian packages clang and libclang-rt-14-dev)" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' \
  >"$scratch/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$scratch/probe.cpp" -o "$scratch/probe" 2>/dev/null; then
  echo "fuzz.sh: clang++ cannot link a fuzzer (Debian package libclang-rt-14-dev)" >&2
  exit 1
fi

CXX=clang++ cmake -S "$root" -B "$build" -DQUILLRUN_FUZZ=ON -DQUILLRUN_WERROR=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

# Sanitizer findings end the run with a report; leaks are looked for too.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Replays, then fuzzes one target; its report goes to $scratch/<target>.log.
fuzz_one() {
  target=$1
  binary="$build/fuzz/$target"
  corpus="$root/fuzz/corpus/$target"
  work="$scratch/$target"
  log="$scratch/$target.log"
  mkdir -p "$work/new" "$work/artifacts"
  # -max_len lets the configuration reader see lines longer than its 4899
  # character pieces; -timeout catches a hang on one input.
  # -entropic_scale_per_exec_time spends less of the time on slow inputs.
  set -- -max_len=10000 -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$work/artifacts/" \
    -entropic_scale_per_exec_time=1
  if ! "$binary" "$@" "$corpus"/* >"$log" 2>&1; then
    echo "replay failed" >>"$log"
    return 1
  fi
  replayed=$(find "$corpus" -type f | wc -l)
  if ! "$binary" "$@" -max_total_time="$seconds" -print_final_stats=1 "$work/new" "$corpus" \
    >>"$log" 2>&1; then
    echo "fuzzing failed" >>"$log"
    return 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$target: $replayed corpus inputs replayed, $runs inputs run in ${seconds} s" >>"$log"
}

# Reports on one finished target; false when it failed.
report() {
  target=$1
  status=$2
  if [ "$status" -eq 0 ]; then
    tail -n 1 "$scratch/$target.log"
    return 0
  fi
  echo "$target: FAILED" >&2
  grep -v '^Executed ' "$scratch/$target.log" | tail -n 60 >&2
  # A corpus input that fails is the last one "Running:" above; one found by
  # fuzzing is kept.
  if [ -n "$(ls -A "$scratch/$target/artifacts")" ]; then
    mkdir -p "$build/fuzz-artifacts"
    cp "$scratch/$target/artifacts/"* "$build/fuzz-artifacts/"
    echo "$target: the failing input is kept in $build/fuzz-artifacts/" >&2
  fi
  return 1
}

failed=0
set -- $targets
while [ $# -gt 0 ]; do
  first=$1
  shift
  fuzz_one "$first" &
  first_pid=$!
  second=""
  if [ $# -gt 0 ]; then
    second=$1
    shift
    fuzz_one "$second" &
    second_pid=$!
  fi
  first_status=0
  wait "$first_pid" || first_status=$?
  report "$first" "$first_status" || failed=1
  if [ -n "$second" ]; then
    second_status=0
    wait "$second_pid" || second_status=$?
    report "$second" "$second_status" || failed=1
  fi
done
exit "$failed"
