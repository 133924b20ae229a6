"""A real receiving SMTP server (aiosmtpd) for interoperability runs.

aiosmtpd undoes the dot-stuffing and hands over the message as received,
CR LF line ends included; `content` is exactly those bytes.
"""

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP


class Recorder:
    def __init__(self):
        self.messages = []

    async def handle_DATA(self, server, session, envelope):
        self.messages.append({"helo": session.host_name, "mail_from": envelope.mail_from,
                              "rcpt_tos": list(envelope.rcpt_tos),
                              "content": envelope.original_content.decode("latin-1")})
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
