#!/bin/sh
# The demo's half that runs inside private namespaces: its own loopback, host
# name, /etc (as an overlay) and /tmp, so the machine's files are untouched.
set -eu
root=$1
ip link set lo up
# The tree may lie under /tmp, which the demo covers: the program and the
# server go to a private /run first.
mount -t tmpfs demo-run /run
cp "$root/build-demo/src/quillrun" "$root/tools/receive_one.py" /run/
mount -t tmpfs demo /tmp
mkdir /tmp/etc-upper /tmp/etc-work /tmp/wd
mount -t overlay overlay -o lowerdir=/etc,upperdir=/tmp/etc-upper,workdir=/tmp/etc-work /etc
hostname mail.example.org
echo "127.0.0.1 localhost mail.example.org" >/etc/hosts
echo "g_smtp_port 25" >/etc/tidewharf.ini

/usr/bin/python3 /run/receive_one.py /tmp/received &
server=$!
# Wait for the server to listen.
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e /tmp/received.ready ] && break; sleep 0.3; done

cd /tmp/wd
echo "\$ quillrun -t -i  (message on standard input)"
printf 'Subject: Hello from quillrun\nTo: Alice <alice@example.org>\nCc: bob@example.org\nBcc: carol@example.org\n\nThe first line.\n.\nA line holding only a dot, above, stays in the message.\n' |
  USERNAME=webmaster /run/quillrun -t -i || status=$?
echo "exit status ${status:-0}"
wait "$server"
echo
echo "--- what the SMTP server received ---"
cat /tmp/received
