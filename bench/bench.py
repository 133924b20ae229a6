"""The benchmark proper; bench/run.sh starts it inside private namespaces.

    python3 bench.py QUILLRUN [RUNS [SHIM]]

SHIM is nodelay_shim.so (adds the counterfactual rows).

Starts bench/sink.py on 127.0.0.1:2525, checks that the sink is not the
bottleneck, then measures small-message latency (quillrun and msmtp),
large-message throughput and peak RSS, and callgrind instructions of one
small run. Prints Markdown tables.
"""
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
QUILLRUN = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 200
SHIM = sys.argv[3] if len(sys.argv) > 3 else ""
PORT = 2525
TIMES = "/tmp/sink-times"
WORK = "/tmp/bench"
MB = 1_000_000
RCPT = "rcpt@example.org"
TICKS = os.sysconf("SC_CLK_TCK")


def clients(variants=True):
    """name -> (argv, extra environment); the shim rows only when the shim was built."""
    quill = [QUILLRUN, "-host", "127.0.0.1", "-f", "a@example.org", RCPT]
    found = {"quillrun": (quill, {})}
    if shutil.which("msmtp"):
        found["msmtp"] = (["msmtp", "--host=127.0.0.1", f"--port={PORT}",
                           "--from=a@example.org", RCPT], {})
    if variants and SHIM:
        found["quillrun, Nagle kept for '.' (shim)"] = (
            quill, {"LD_PRELOAD": SHIM, "BENCH_NODELAY": "never"})
        found["quillrun, TCP_NODELAY on every line (shim)"] = (
            quill, {"LD_PRELOAD": SHIM, "BENCH_NODELAY": "always"})
    return found


def message(path, body_lines, line=b"x" * 75):
    """A message with a short header and `body_lines` copies of `line`."""
    with open(path, "wb") as f:
        f.write(b"From: a@example.org\nTo: rcpt@example.org\nSubject: bench\n\n")
        per = max(1, min(body_lines, (1 << 20) // (len(line) + 1)))
        for _ in range(body_lines // per):
            f.write((line + b"\n") * per)
        f.write((line + b"\n") * (body_lines % per))
    return path


def sink_times():
    with open(TIMES) as f:
        return [tuple(float(x) for x in ln.split()) for ln in f]


def sink_cpu(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def run_once(argv, path, env=None):
    with open(path, "rb") as stdin:
        start = time.monotonic()
        done = subprocess.run(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              cwd=WORK, timeout=300, env={**os.environ, **(env or {})})
        end = time.monotonic()
    if done.returncode != 0:
        raise SystemExit(f"{argv[0]} failed ({done.returncode}): {done.stderr.decode()[:300]}")
    return start, end


def quantile(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(q * (len(values) - 1))))]


def ms(seconds):
    return f"{seconds * 1000:.2f}"


def check_sink(pid, size=100 * MB):
    """Feeds the sink `size` bytes of 76-byte lines in 1 MiB sends, as fast as possible."""
    s = socket.create_connection(("127.0.0.1", PORT))
    f = s.makefile("rb")
    f.readline()
    for cmd in (b"HELO x", b"MAIL FROM:<a@b>", b"RCPT TO:<c@d>", b"DATA"):
        s.sendall(cmd + b"\r\n")
        f.readline()
    block = (b"y" * 74 + b"\r\n") * ((1 << 20) // 76)
    cpu0, start = sink_cpu(pid), time.monotonic()
    for _ in range(size // len(block)):
        s.sendall(block)
    s.sendall(b".\r\n")
    f.readline()
    wall, cpu = time.monotonic() - start, sink_cpu(pid) - cpu0
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    rtt = time.monotonic()
    for _ in range(1000):
        s.sendall(b"NOOP\r\n")
        f.readline()
    rtt = (time.monotonic() - rtt) / 1000
    s.sendall(b"QUIT\r\n")
    f.readline()
    s.close()
    sent = size // len(block) * len(block)
    print(f"Sink check: {sent / MB:.0f} MB in 1 MiB sends took {wall:.3f} s "
          f"({sent / MB / wall:.0f} MB/s), sink CPU {cpu:.2f} s; command round trip "
          f"{rtt * 1e6:.0f} µs (Python client).\n")


def latency(path):
    print(f"## Small message: {os.path.getsize(path)} bytes, 1 recipient, {RUNS} runs each\n")
    print("Wall time per run, and the sink's view of the DATA phase (354 sent to final "
          "'.' received).\n")
    print("| client | median ms | p90 ms | min ms | max ms | DATA phase median ms | runs ≥ 35 ms |")
    print("|---|---|---|---|---|---|---|")
    base = [run_once(["/bin/true"], path) for _ in range(50)]
    runners = clients()
    samples = {name: [] for name in runners}
    phases = {name: [] for name in runners}
    deadline = time.monotonic() + 240
    for _ in range(RUNS):
        for name, (argv, env) in runners.items():
            before = len(sink_times())
            samples[name].append(run_once(argv, path, env))
            rows = sink_times()
            if len(rows) > before:
                phases[name].append(rows[-1][2] - rows[-1][1])
        if time.monotonic() > deadline:
            print("(stopped early: time limit)")
            break
    for name, runs in list(samples.items()) + [("/bin/true (spawn cost)", base)]:
        walls = [e - s for s, e in runs]
        phase = ms(statistics.median(phases[name])) if phases.get(name) else "–"
        slow = sum(w >= 0.035 for w in walls)
        print(f"| {name} | {ms(statistics.median(walls))} | {ms(quantile(walls, 0.9))} | "
              f"{ms(min(walls))} | {ms(max(walls))} | {phase} | {slow} |")
    print()


def timed(argv, env, path):
    """One run under /usr/bin/time -v: wall (s), peak RSS (KiB), user+sys (s)."""
    report = "/tmp/time-v"
    start, end = run_once(["/usr/bin/time", "-v", "-o", report] + argv, path, env)
    text = open(report).read()
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    user = float(re.search(r"User time \(seconds\): ([\d.]+)", text).group(1))
    system = float(re.search(r"System time \(seconds\): ([\d.]+)", text).group(1))
    return start, end, rss, user, system


def large(pid, trials=3):
    print(f"## Large messages (best of {trials} runs by wall time)\n")
    print("Wall time from start to exit; intake = start to connection (stdin to spool file), "
          "DATA = 354 to final '.' at the sink; MB/s over the message size; peak RSS is the "
          "largest of the runs.\n")
    print("| message | client | wall s | MB/s | intake s | DATA s | user s | sys s | "
          "peak RSS MiB | sink CPU s |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    cases = [("1 KiB", 13, b"x" * 75, False),
             ("20 MB, 76-char lines", 20 * MB // 76, b"x" * 75, True),
             ("100 MB, 76-char lines", 100 * MB // 76, b"x" * 75, True),
             ("3 lines of 10 MB", 3, b"z" * (10 * MB), False),
             ("1 line of 50 MB", 1, b"z" * (50 * MB), False)]
    for label, lines, line, variants in cases:
        path = message(f"/tmp/large-{lines}-{len(line)}", lines, line)
        size = os.path.getsize(path)
        for name, (argv, env) in clients(variants).items():
            runs = []
            for _ in range(trials):
                before, cpu0 = len(sink_times()), sink_cpu(pid)
                start, end, rss, user, system = timed(argv, env, path)
                row = sink_times()[before:][-1]
                runs.append((end - start, row[0] - start, row[2] - row[1], user, system, rss,
                             sink_cpu(pid) - cpu0))
            wall, intake, data, user, system, _, cpu = min(runs)
            rss = max(r[5] for r in runs)
            rate = f"{size / MB / wall:.0f}" if size >= MB else "–"
            print(f"| {label} | {name} | {wall:.3f} | {rate} | {intake:.3f} | "
                  f"{data:.3f} | {user:.2f} | {system:.2f} | {rss / 1024:.1f} | {cpu:.2f} |")
        os.remove(path)
    print()


def callgrind(path):
    if not shutil.which("valgrind"):
        return
    print("## Instructions (callgrind, one run of the 1 KiB message)\n")
    print("| client | instructions |")
    print("|---|---|")
    for name, (argv, _) in clients(False).items():
        out = f"/tmp/callgrind.{name}"
        run_once(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"] + argv, path)
        total = re.search(r"^summary: (\d+)", open(out).read(), re.M).group(1)
        print(f"| {name} | {int(total):,} |")
    print()


def main():
    os.makedirs(WORK, exist_ok=True)
    open(TIMES, "w").close()
    sink = subprocess.Popen([sys.executable, os.path.join(HERE, "sink.py"), str(PORT), TIMES])
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", PORT)).close()
                break
            except OSError:
                time.sleep(0.05)
        print("Load average at start: " + open("/proc/loadavg").read().split()[0] + "\n")
        check_sink(sink.pid)
        small = message("/tmp/small", 13)  # about 1 KiB with the header
        latency(small)
        large(sink.pid)
        callgrind(small)
        print("Load average at end: " + open("/proc/loadavg").read().split()[0])
    finally:
        sink.terminate()
        sink.wait()


main()
