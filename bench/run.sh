#!/bin/sh
# The benchmark, in one command (as root, on Debian):
#
#   bench/run.sh [RUNS]        # RUNS small-message runs per client, default 200
#
# Installs msmtp (the peer client), GNU time, valgrind and openssl when missing,
# builds quillrun into build-bench/ (RelWithDebInfo) and the LD_PRELOAD shim
# nodelay_shim.c, then, inside
# tools/namespaces.py's private namespaces (own loopback, host name, /etc
# overlay, /tmp tmpfs; the machine's files are untouched), runs
# bench/bench.py, which makes a test certificate with openssl, starts the sink
# SMTP server bench/sink.py on 127.0.0.1:2525 (and 2587 with STARTTLS and
# AUTH) and prints Markdown tables: small-message latency, the same over
# STARTTLS and AUTH with peak RSS, the same over XOAUTH2 with a token from
# bench/token_endpoint.py (127.0.0.1:2443), large-message throughput and peak
# RSS, a 10 MB message over TLS against clear text, peak RSS for 1 GB messages
# and a long header line, callgrind instruction counts. The memory rows put two 1 GB
# files at a time in the tmpfs (the message and quillrun's spool file), so
# about 2 GB of RAM is needed. Takes one and a half to three minutes.
# QUILLRUN=/path/to/binary measures that binary instead of building.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = --inside ]; then # /etc and /tmp are the namespaces' own here
  printf 'g_smtp_port 2525\ng_work /tmp/spool\n' >/etc/tidewharf.ini
  rm -f /etc/msmtprc
  mkdir /tmp/spool
  cd /tmp
  exec env HOME=/tmp USERNAME=bench python3 "$here/bench.py" "$2" "$3" "$4"
fi

missing=""
for p in msmtp time valgrind openssl python3 iproute2 util-linux cmake g++ libssl-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
fi
out=$(cd "$here/.." && pwd)/build-bench
build() { # build DIR [cmake options]: quillrun only
  dir=$1 && shift
  cmake -S "$here/.." -B "$dir" -DBUILD_TESTING=OFF "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target quillrun >/dev/null
}
binary=${QUILLRUN:-}
if [ -z "$binary" ]; then
  build "$out/plain" && binary=$out/plain/src/quillrun
fi
mkdir -p "$out"
gcc -O2 -shared -fPIC -o "$out/nodelay_shim.so" "$here/nodelay_shim.c" -ldl
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
echo "# quillrun benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r)"
echo "# binary $binary ($(cd "$here/.." && git rev-parse --short HEAD 2>/dev/null || echo '?'))"
echo
exec python3 "$here/../tools/namespaces.py" --keep "$binary" --keep "$out" -- /bin/sh "$here/run.sh" --inside \
  "$binary" "${1:-200}" "$out/nodelay_shim.so"
