"""A fast discarding SMTP sink for the benchmark: 250 to every command, 354
to DATA, 221 to QUIT; the message text is counted and dropped.

    python3 sink.py PORT TIMES_FILE

Appends one line per message to TIMES_FILE, monotonic seconds:
    connected data_start data_end bytes
Replies go out at once (TCP_NODELAY), so the sink never adds a Nagle wait.
"""
import asyncio
import socket
import sys
import time

END = b"\r\n.\r\n"


# What arrives is read into this one buffer, not into new bytes for every
# read. One for all connections, since each takes its bytes out before
# another is read.
RECEIVED = memoryview(bytearray(256 * 1024))


class Sink(asyncio.BufferedProtocol):
    def get_buffer(self, sizehint):
        return RECEIVED

    def buffer_updated(self, nbytes):
        self.data_received(bytes(RECEIVED[:nbytes]))

    def connection_made(self, transport):
        self.t = transport
        self.t.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.connected = time.monotonic()
        self.buf = b""
        self.in_data = False
        self.t.write(b"220 sink ready\r\n")

    def data_received(self, data):
        if self.in_data:
            return self.body(data)
        self.buf += data
        while not self.in_data and b"\n" in self.buf:
            line, self.buf = self.buf.split(b"\n", 1)
            verb = line[:4].upper()
            if verb == b"DATA":
                self.t.write(b"354 go ahead\r\n")
                self.in_data, self.tail, self.size = True, b"\r\n", 0
                self.data_start = time.monotonic()
            elif verb == b"QUIT":
                self.t.write(b"221 bye\r\n")
                self.t.close()
                return
            elif verb == b"EHLO":
                self.t.write(b"250-sink\r\n250 8BITMIME\r\n")
            else:
                self.t.write(b"250 ok\r\n")
        if self.in_data and self.buf:
            rest, self.buf = self.buf, b""
            self.body(rest)

    def body(self, data):
        # Only the last bytes of the previous chunk are kept to find the end,
        # and only they are joined to the start of the new one: a copy of each
        # chunk would cost the sink as much as the search.
        self.size += len(data)
        seam = self.tail + data[:4]
        if (at := seam.find(END)) >= 0:
            rest = seam[at + len(END):] + data[4:]
        elif (at := data.find(END)) >= 0:
            rest = data[at + len(END):]
        else:
            self.tail = (self.tail + data[-4:])[-4:]
            return
        self.size -= 3 + len(rest)  # the final ".\r\n" and what follows it
        self.in_data = False
        with open(sys.argv[2], "a") as f:
            f.write(f"{self.connected:.6f} {self.data_start:.6f} {time.monotonic():.6f} {self.size}\n")
        self.t.write(b"250 queued\r\n")
        if rest:
            self.data_received(rest)


async def main():
    server = await asyncio.get_running_loop().create_server(Sink, "127.0.0.1", int(sys.argv[1]),
                                                            backlog=64)
    async with server:
        await server.serve_forever()


asyncio.run(main())
