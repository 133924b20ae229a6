"""Receives one message with aiosmtpd on 127.0.0.1:25 and writes its
envelope and content to the file named by the first argument."""
import asyncio
import pathlib
import sys

from aiosmtpd.controller import Controller

out = pathlib.Path(sys.argv[1])
done = asyncio.Event()


class Handler:
    async def handle_DATA(self, server, session, envelope):
        out.write_bytes(
            b"MAIL FROM: " + envelope.mail_from.encode() + b"\n"
            + b"RCPT TO: " + ", ".join(envelope.rcpt_tos).encode() + b"\n\n"
            + envelope.original_content)
        loop.call_soon_threadsafe(done.set)
        return "250 OK"


async def main():
    controller = Controller(Handler(), hostname="127.0.0.1", port=25)
    controller.start()
    pathlib.Path(str(out) + ".ready").touch()
    await asyncio.wait_for(done.wait(), timeout=30)
    await asyncio.sleep(0.2)  # let the client's QUIT be answered
    controller.stop()

loop = asyncio.new_event_loop()
loop.run_until_complete(main())
