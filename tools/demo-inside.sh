#!/bin/sh
# The demo's half that runs inside tools/namespaces.py's private namespaces:
# its own loopback, host name, /etc (as an overlay) and /tmp, so the
# machine's files are untouched.
set -eu
root=$1
echo "g_smtp_port 25" >/etc/tidewharf.ini

/usr/bin/python3 "$root/tools/real_server.py" /tmp/received &
server=$!
# Wait for the server to listen.
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e /tmp/received.ready ] && break; sleep 0.3; done

mkdir /tmp/wd
cd /tmp/wd
echo "\$ quillrun -t -i  (message on standard input)"
printf 'Subject: Hello from quillrun\nTo: Alice <alice@example.org>\nCc: bob@example.org\nBcc: carol@example.org\n\nThe first line.\n.\nA line holding only a dot, above, stays in the message.\n' |
  USERNAME=webmaster "$root/build-demo/src/quillrun" -t -i || status=$?
echo "exit status ${status:-0}"
wait "$server"
echo
echo "--- what the SMTP server received ---"
cat /tmp/received
