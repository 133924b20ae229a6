#!/bin/sh
# Builds quillrun and hands a sample message to a real SMTP server (aiosmtpd)
# listening on port 25 of a private loopback, then shows what it received.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cd "$root"
cmake --preset demo >/dev/null
cmake --build --preset demo >/dev/null
exec /usr/bin/python3 "$root/tools/namespaces.py" -- /bin/sh "$root/tools/demo-inside.sh" "$root"
