"""Python's smtplib as the client of a program that speaks SMTP on its
standard input and output ("-bs"), for sandbox.py's `session` cases."""

import smtplib
import threading


class PipeSocket:
    """What smtplib needs of a socket and of the file it reads replies from,
    over the program's standard input and output. Closing it ends standard
    input only: what the program still writes is read after it ends."""

    def __init__(self, proc):
        self.proc = proc

    def sendall(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def makefile(self, mode):
        return self

    def readline(self, size=-1):
        return self.proc.stdout.readline(size)

    def close(self):
        if not self.proc.stdin.closed:
            self.proc.stdin.close()


class PipeSMTP(smtplib.SMTP):
    """smtplib's client, speaking to a program instead of a port."""

    def __init__(self, proc):
        super().__init__()
        self.sock = PipeSocket(proc)


def speak_smtp(proc, session, time_limit):
    """Plays `session` to a program running "-bs", one step after the
    other, with Python's smtplib. A step is [method, *arguments] of smtplib.SMTP
    (helo, ehlo, mail, rcpt, data, rset, noop, quit, docmd), or ["send", text]
    (raw bytes, no reply awaited) or ["close"] (end of standard input).
    Returns the greeting's and each awaited step's [code, text]; a step the
    program hung up on gives [None, the error]. The program is killed when it
    outlives `time_limit` seconds, which ends any read."""
    killed = threading.Event()

    def kill():
        killed.set()
        proc.kill()
    timer = threading.Timer(time_limit, kill)
    timer.start()
    client = PipeSMTP(proc)
    pipe = client.sock  # smtplib forgets it on QUIT
    replies = [list(client.getreply())]
    try:
        for method, *args in session:
            args = [a.encode("latin-1") if method in ("data", "send") else a for a in args]
            if method == "send":
                client.send(args[0])
            elif method == "close":
                pipe.close()
            else:
                try:
                    replies.append(list(getattr(client, method)(*args)))
                except smtplib.SMTPResponseException as e:  # how smtplib gives a refused DATA
                    replies.append([e.smtp_code, e.smtp_error])
    except (smtplib.SMTPServerDisconnected, BrokenPipeError) as e:
        replies.append([None, str(e)])
    pipe.close()
    status = proc.wait()
    timer.cancel()
    return {"replies": [[code, text.decode("latin-1") if isinstance(text, bytes) else text]
                        for code, text in replies],
            "stdout": proc.stdout.read().decode("latin-1"), "stderr": proc.stderr.read().decode("latin-1"),
            "status": None if killed.is_set() else status, "timed_out": killed.is_set()}
