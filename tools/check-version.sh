#!/bin/sh
# Fails when a version written anywhere is not the one set in the top-level
# CMakeLists.txt (project(... VERSION ...)).
#
#   check-version.sh [PROGRAM]
#
# Looks at every file of the source tree (git's list when there is one) for
# "quillrun" followed by a version N.N.N: "quillrun N.N.N", "quillrun
# version N.N.N", "quillrun (N.N.N)", "quillrun-N.N.N", "quillrun_N.N.N"; with
# PROGRAM, also at the first line of its help text. Prints the version. The
# Debian changelog keeps the versions of the past: the configuration checks
# its newest entry (cmake/packaging.cmake).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(quillrun VERSION \([0-9][0-9.]*\)[ )].*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "check-version.sh: no project(quillrun VERSION ...) in CMakeLists.txt" >&2; exit 1; }

failed=0
stale=$(
  cd "$root"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard
  else
    find . -path ./.git -prune -o -path './build*' -prune -o -type f -print0
  fi |
    xargs -0 grep -IHnoE 'quillrun([ _-]|[ ]version[ ]|[ ]\()v?[0-9]+\.[0-9]+\.[0-9]+' 2>/dev/null |
    grep -v '^packaging/debian/changelog:' |
    grep -vE "[ _(v-]$(printf '%s' "$version" | sed 's/\./\\./g')\$" || true
)
if [ -n "$stale" ]; then
  echo "check-version.sh: versions other than $version (set in CMakeLists.txt):" >&2
  echo "$stale" >&2
  failed=1
fi

if [ $# -gt 0 ]; then
  first=$("$@" -version | head -n 1 | tr -d '\r')
  if [ "$first" != "quillrun version $version" ]; then
    echo "check-version.sh: $* -version says \"$first\", not \"quillrun version $version\"" >&2
    failed=1
  fi
fi
[ "$failed" -eq 0 ] || exit 1
echo "$version"
