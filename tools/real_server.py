"""A real receiving SMTP server (aiosmtpd) on 127.0.0.1: RealServer for the
end-to-end tests, and a program that takes one message for the demo and the
package test:

    python3 tools/real_server.py OUT

creates OUT.ready once it listens on port 25, then writes to OUT the envelope
("MAIL FROM: ...", "RCPT TO: ..." and an empty line) and the message, and
ends; it fails when no message comes within 30 seconds.

aiosmtpd undoes the dot-stuffing and hands over the message as received,
CR LF line ends included; `content` is exactly those bytes.
"""

import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP


class Recorder:
    def __init__(self):
        self.messages = []
        self.received = threading.Event()

    async def handle_DATA(self, server, session, envelope):
        self.messages.append({"helo": session.host_name, "mail_from": envelope.mail_from,
                              "rcpt_tos": list(envelope.rcpt_tos),
                              "content": envelope.original_content.decode("latin-1")})
        self.received.set()
        return "250 OK"


class _Controller(Controller):
    def factory(self):
        # decode_data=False keeps the bytes; no host name lookup in the namespace.
        return SMTP(self.handler, decode_data=False, hostname="e2e.test")


class RealServer:
    def __init__(self, host="127.0.0.1", port=25):
        self.recorder = Recorder()
        self.controller = _Controller(self.recorder, hostname=host, port=port)
        self.controller.start()

    def stop(self, grace=0):
        self.controller.stop()
        return self.recorder.messages


if __name__ == "__main__":
    out = sys.argv[1]
    server = RealServer()
    open(out + ".ready", "w").close()
    received = server.recorder.received.wait(30)
    time.sleep(0.2)  # the client's QUIT is answered
    messages = server.stop()
    if not received:
        sys.exit("no message within 30 seconds")
    m = messages[0]
    with open(out, "wb") as f:
        f.write(f"MAIL FROM: {m['mail_from']}\nRCPT TO: {', '.join(m['rcpt_tos'])}\n\n".encode()
                + m["content"].encode("latin-1"))
