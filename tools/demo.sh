#!/bin/sh
# Builds quillrun and hands a sample message to a real SMTP server (aiosmtpd)
# listening on port 25 of a private loopback, then shows what it received.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)" >/dev/null
exec unshare --user --map-root-user --mount --uts --net /bin/sh "$root/tools/demo-inside.sh" "$root"
