"""The benchmark proper; bench/run.sh starts it inside private namespaces.

    python3 bench.py QUILLRUN [RUNS [SHIM]]

SHIM is nodelay_shim.so (adds the counterfactual rows).

Makes a test CA and a certificate for 127.0.0.1 with the openssl command,
starts bench/sink.py on 127.0.0.1:2525 (plain) and 2587 (STARTTLS and
AUTH), checks that the sink is not the bottleneck, then measures
small-message latency (quillrun and msmtp), the same over STARTTLS and AUTH
with peak RSS, large-message throughput and peak RSS, a 10 MB message over
TLS against the plain rate, quillrun's peak RSS for 1 GB messages and a
900 KB header line against a 1 KB message, the small message over XOAUTH2
with a token of quillrun's own from bench/token_endpoint.py on
127.0.0.1:2443, and callgrind instructions of one small run. Prints Markdown
tables.
"""
import base64
import os
import re
import resource
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
QUILLRUN = sys.argv[1]
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 200
SHIM = sys.argv[3] if len(sys.argv) > 3 else ""
PORT = 2525
TLS_PORT = 2587
TOKEN_PORT = 2443
TIMES = "/tmp/sink-times"
TOKEN_TIMES = "/tmp/token-times"
WORK = "/tmp/bench"
MB = 1_000_000
RCPT = "rcpt@example.org"
USER, SECRET = "bench", "bench-secret"  # the sink's only login
CA = f"{WORK}/ca.pem"  # the root that signed the sink's certificate


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


def tls_clients():
    """name -> (argv, extra environment) for submission over STARTTLS with AUTH.
    Both take the secret from their own settings file (mode 600): passwordeval
    would add a shell to each msmtp run."""
    ini = write_settings(f"{WORK}/quillrun.ini", quillrun_tls_settings(f"tls_ca_file {CA}\n"))
    rc = write_settings(f"{WORK}/msmtprc", f"host 127.0.0.1\nport {TLS_PORT}\ntls on\n"
                        f"tls_starttls on\ntls_trust_file {CA}\nauth on\nuser {USER}\n"
                        f"password {SECRET}\n")
    found = {"quillrun": ([QUILLRUN, "-f", "a@example.org", RCPT], {"QUILLRUN_INI": ini})}
    if shutil.which("msmtp"):
        found["msmtp"] = (["msmtp", "-C", rc, "--from=a@example.org", RCPT], {})
    return found


def quillrun_tls_settings(lines, secret=SECRET):
    """quillrun.ini's text for STARTTLS and AUTH to the sink, with `lines` added."""
    return f"host 127.0.0.1\nport {TLS_PORT}\ntls starttls\n{lines}user {USER}\npassword {secret}\n"


def write_settings(path, text):
    """A settings file holding a secret: the owner's alone, as quillrun wants it."""
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
        f.write(text)
    return path


def install_test_root():
    """The test CA among the system's roots in this namespace's /etc, as
    update-ca-certificates installs one: in the bundle and under its subject
    hash in /etc/ssl/certs."""
    certs = "/etc/ssl/certs"
    with open(CA) as f:
        pem = f.read()
    with open(f"{certs}/ca-certificates.crt", "a") as f:
        f.write(pem)
    shutil.copy(CA, f"{certs}/quillrun-bench-ca.pem")
    subject_hash = subprocess.run(["openssl", "x509", "-noout", "-subject_hash", "-in", CA],
                                  capture_output=True, text=True, check=True).stdout.strip()
    os.symlink("quillrun-bench-ca.pem", f"{certs}/{subject_hash}.0")


def system_roots_client():
    """quillrun over STARTTLS and AUTH trusting the system's roots."""
    ini = write_settings(f"{WORK}/quillrun-system.ini", quillrun_tls_settings(""))
    return [QUILLRUN, "-f", "a@example.org", RCPT], {"QUILLRUN_INI": ini}


def make_certificate():
    """A root CA (P-256) and the sink's certificate for 127.0.0.1 signed by it (RSA
    2048), each valid for 2 days; returns the certificate and key files."""
    cert, key = f"{WORK}/sink.pem", f"{WORK}/sink.key"
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": True}
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", f"{WORK}/ca.key",
                    "-out", CA, "-days", "2", "-subj", "/CN=quillrun bench CA"], **quiet)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-CA", CA,
                    "-CAkey", f"{WORK}/ca.key", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-addext", "basicConstraints=critical,CA:FALSE",
                    "-addext", "extendedKeyUsage=serverAuth"], **quiet)
    return cert, key


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
    """One row per message: connected, DATA start, DATA end, bytes, 1.0 when it came
    through TLS, the login mechanism ("-": none)."""
    rows = []
    with open(TIMES) as f:
        for ln in f:
            *numbers, login = ln.split()
            rows.append((*map(float, numbers), login))
    return rows


def sink_cpu(pid):
    """The sink's CPU seconds so far, from the scheduler's count in nanoseconds (the
    10 ms ticks of /proc/PID/stat are too coarse for a 10 MB run); the sink runs in
    one thread."""
    return int(open(f"/proc/{pid}/schedstat").read().split()[0]) / 1e9


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


def reply(f):
    """The last line of one reply."""
    while (line := f.readline())[3:4] == b"-":
        pass
    return line


def open_tls_session():
    """A connection to the TLS port after STARTTLS and AUTH PLAIN, and its reader."""
    s = socket.create_connection(("127.0.0.1", TLS_PORT))
    f = s.makefile("rb")
    reply(f)
    for cmd in (b"EHLO x", b"STARTTLS"):
        s.sendall(cmd + b"\r\n")
        reply(f)
    s = ssl.create_default_context(cafile=CA).wrap_socket(s, server_hostname="127.0.0.1")
    f = s.makefile("rb")
    login = base64.b64encode(f"\0{USER}\0{SECRET}".encode())
    s.sendall(b"EHLO x\r\n")
    reply(f)
    s.sendall(b"AUTH PLAIN " + login + b"\r\n")
    if not reply(f).startswith(b"235"):
        raise SystemExit("the sink refused the login")
    return s, f


def check_sink(pid, tls=False, size=100 * MB):
    """Feeds the sink `size` bytes of 76-byte lines in 1 MiB sends, as fast as possible,
    in clear text or over STARTTLS."""
    if tls:
        s, f = open_tls_session()
    else:
        s = socket.create_connection(("127.0.0.1", PORT))
        f = s.makefile("rb")
        f.readline()
        s.sendall(b"HELO x\r\n")
        f.readline()
    for cmd in (b"MAIL FROM:<a@b>", b"RCPT TO:<c@d>", b"DATA"):
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
    how = "over STARTTLS" if tls else "in clear text"
    print(f"Sink check {how}: {sent / MB:.0f} MB in 1 MiB sends took {wall:.3f} s "
          f"({sent / MB / wall:.0f} MB/s), sink CPU {cpu:.2f} s; command round trip "
          f"{rtt * 1e6:.0f} µs (Python client).\n")


def take_turns(runners, path, runs):
    """`runs` rounds of each runner in turn (at most 4 minutes): name -> (start, end)
    of each run, and name -> the sink's row of each."""
    samples = {name: [] for name in runners}
    seen = {name: [] for name in runners}
    deadline = time.monotonic() + 240
    for _ in range(runs):
        for name, (argv, env) in runners.items():
            before = len(sink_times())
            samples[name].append(run_once(argv, path, env))
            rows = sink_times()
            if len(rows) > before:
                seen[name].append(rows[-1])
        if time.monotonic() > deadline:
            print("(stopped early: time limit)")
            break
    return samples, seen


def latency_row(name, runs, rows, dialogue=False):
    """Wall times of `runs`; the DATA phase of the sink's `rows` (and with `dialogue`,
    before it the time from the connection to DATA)."""
    walls = [e - s for s, e in runs]
    phases = [ms(statistics.median(r[2] - r[1] for r in rows)) if rows else "–"]
    if dialogue:
        phases.insert(0, ms(statistics.median(r[1] - r[0] for r in rows)))
    slow = sum(w >= 0.035 for w in walls)
    return (f"| {name} | {ms(statistics.median(walls))} | {ms(quantile(walls, 0.9))} | "
            f"{ms(min(walls))} | {ms(max(walls))} | {' | '.join(phases)} | {slow} |")


def latency(path):
    print(f"## Small message: {os.path.getsize(path)} bytes, 1 recipient, {RUNS} runs each\n")
    print("Wall time per run, and the sink's view of the DATA phase (354 sent to final "
          "'.' received).\n")
    print("| client | median ms | p90 ms | min ms | max ms | DATA phase median ms | runs ≥ 35 ms |")
    print("|---|---|---|---|---|---|---|")
    base = [run_once(["/bin/true"], path) for _ in range(50)]
    samples, seen = take_turns(clients(), path, RUNS)
    for name, runs in samples.items():
        print(latency_row(name, runs, seen[name]))
    print(latency_row("/bin/true (spawn cost)", base, []))
    print()


def peak_rss(runners, path, runs=10):
    """name -> peak RSS in KiB of each of `runs` runs under /usr/bin/time, in turns."""
    peaks = {name: [] for name in runners}
    for _ in range(runs):
        for name, (argv, env) in runners.items():
            peaks[name].append(timed(argv, env, path)[2])
    return peaks


def met(ok):
    return "met" if ok else "**not met**"


def tls_latency(path):
    """The small message over STARTTLS and AUTH PLAIN, the clients in turns."""
    print(f"## Small message over STARTTLS and AUTH: {os.path.getsize(path)} bytes, "
          f"1 recipient, {RUNS} runs each\n")
    print("Port 2587: EHLO, STARTTLS, the handshake (TLS 1.3, the sink's RSA 2048 "
          "certificate checked against the test CA), EHLO, AUTH PLAIN, then the message. "
          "Wall time per run; as the sink saw it, the time from the connection to DATA "
          "(STARTTLS, handshake, login) and the DATA phase; then peak RSS of 10 runs each "
          "under /usr/bin/time.\n")
    print("| client | median ms | p90 ms | min ms | max ms | connection to DATA median ms | "
          "DATA phase median ms | runs ≥ 35 ms | peak RSS KiB (10 runs) |")
    print("|---|---|---|---|---|---|---|---|---|")
    runners = tls_clients()
    before = len(sink_times())
    samples, seen = take_turns(runners, path, RUNS)
    peaks = peak_rss(runners, path)
    if any(row[4] != 1 or row[5] != "PLAIN" for row in sink_times()[before:]):
        raise SystemExit("a message reached the sink without TLS or without AUTH PLAIN")
    for name, runs in samples.items():
        print(f"{latency_row(name, runs, seen[name], dialogue=True)} "
              f"{min(peaks[name]):,} – {max(peaks[name]):,} |")
    if "msmtp" in samples:
        median = {n: statistics.median(e - s for s, e in r) for n, r in samples.items()}
        print(f"\nquillrun at least as fast per message (median): "
              f"{met(median['quillrun'] <= median['msmtp'])}; quillrun's peak RSS below msmtp's "
              f"(its largest under msmtp's smallest): "
              f"{met(max(peaks['quillrun']) < min(peaks['msmtp']))}.")
    print()


def tls_trust(path, runs=30):
    """The small message over STARTTLS and AUTH with the system's roots and with
    tls_ca_file, in turns: CPU time (user + sys, from getrusage, to the
    microsecond) and wall time per run."""
    print(f"## Small message over STARTTLS and AUTH: the system's roots against tls_ca_file, "
          f"{runs} runs each\n")
    print("The system's roots are looked up by subject hash in /etc/ssl/certs (the test CA "
          "installed there), not read from the bundle. Medians.\n")
    print("| quillrun trusting | median CPU ms | median wall ms |")
    print("|---|---|---|")
    runners = {"the system's roots": system_roots_client(), "tls_ca_file": tls_clients()["quillrun"]}
    cpu = {name: [] for name in runners}
    wall = {name: [] for name in runners}
    for _ in range(runs):
        for name, (argv, env) in runners.items():
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start, end = run_once(argv, path, env)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu[name].append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
            wall[name].append(end - start)
    for name in runners:
        print(f"| {name} | {ms(statistics.median(cpu[name]))} | {ms(statistics.median(wall[name]))} |")
    ratio = statistics.median(cpu["the system's roots"]) / max(statistics.median(cpu["tls_ca_file"]), 1e-6)
    print(f"\nCPU time with the system's roots within 1.2x of tls_ca_file's: {ratio:.2f}x, {met(ratio <= 1.2)}.\n")
    return runners["the system's roots"]


def token_times():
    """One row per answered token request: accepted, answered."""
    with open(TOKEN_TIMES) as f:
        return [tuple(map(float, ln.split())) for ln in f]


def oauth_clients():
    """name -> (argv, extra environment) of quillrun over STARTTLS and XOAUTH2:
    the access token given as the secret, and the client credentials grant
    (RFC 6749 4.4) at the bench's endpoint, with and without a token cache."""
    grant = (f"tls_ca_file {CA}\noauth2_grant client_credentials\n"
             f"oauth2_token_url https://127.0.0.1:{TOKEN_PORT}/token\noauth2_scope bench\n"
             f"oauth2_client_id bench-client\n")
    settings = {
        "static token (`auth xoauth2`)": quillrun_tls_settings(f"tls_ca_file {CA}\nauth xoauth2\n"),
        "`oauth2_grant`, warm cache": quillrun_tls_settings(
            f"{grant}oauth2_token_cache {WORK}/token-cache.json\n", "bench-client-secret"),
        "`oauth2_grant`, no cache": quillrun_tls_settings(grant, "bench-client-secret"),
    }
    return {name: ([QUILLRUN, "-f", "a@example.org", RCPT],
                   {"QUILLRUN_INI": write_settings(f"{WORK}/quillrun-oauth-{i}.ini", text)})
            for i, (name, text) in enumerate(settings.items())}


def oauth(path, runs=50):
    """The small message over STARTTLS and XOAUTH2, the three ways of
    oauth_clients in turns: wall and CPU time per run, the token requests the
    endpoint answered, and where the time before the SMTP connection goes."""
    print(f"## Small message over STARTTLS and XOAUTH2: a token of quillrun's own, "
          f"{runs} runs each\n")
    print("The same message and sink as above, AUTH XOAUTH2 with the token in its initial "
          "response. The token endpoint (bench/token_endpoint.py, Python's http.server and "
          "ssl, TLS 1.3, the sink's certificate checked against the system's roots) answers "
          "every POST with a token valid for an hour. The cache was filled by one run before "
          "these. Medians; \"start to SMTP\" is the process start to the sink's accepting the "
          "SMTP connection, \"SMTP to exit\" from there to the process's end.\n")
    print("| quillrun | median wall ms | p90 wall ms | median CPU ms | token requests | "
          "start to SMTP ms | SMTP to exit ms |")
    print("|---|---|---|---|---|---|---|")
    runners = oauth_clients()
    argv, env = runners["`oauth2_grant`, warm cache"]
    run_once(argv, path, env)
    wall, cpu, to_smtp, from_smtp, exchanges = ({name: [] for name in runners} for _ in range(5))
    for _ in range(runs):
        for name, (argv, env) in runners.items():
            rows, tokens = len(sink_times()), len(token_times())
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start, end = run_once(argv, path, env)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            row = sink_times()[rows:][-1]
            if row[4] != 1 or row[5] != "XOAUTH2":
                raise SystemExit(f"{name}: the message reached the sink without TLS or XOAUTH2")
            wall[name].append(end - start)
            cpu[name].append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
            to_smtp[name].append(row[0] - start)
            from_smtp[name].append(end - row[0])
            exchanges[name] += [(start, *t, row[0]) for t in token_times()[tokens:]]
    for name in runners:
        print(f"| {name} | {ms(statistics.median(wall[name]))} | {ms(quantile(wall[name], 0.9))} | "
              f"{ms(statistics.median(cpu[name]))} | {len(exchanges[name])} | "
              f"{ms(statistics.median(to_smtp[name]))} | {ms(statistics.median(from_smtp[name]))} |")
    static, warm, cold = (statistics.median(wall[name]) for name in runners)
    static_smtp, _, cold_smtp = (statistics.median(to_smtp[name]) for name in runners)
    static_cpu, warm_cpu = (statistics.median(cpu[name]) for name in list(runners)[:2])
    print(f"\nWarm cache against a static token: {warm / static:.2f}x the wall time, "
          f"{warm_cpu / static_cpu:.2f}x the CPU time (goal ≤ 1.2x: "
          f"{met(warm <= 1.2 * static and warm_cpu <= 1.2 * static_cpu)}).")
    fetched = exchanges[list(runners)[2]]
    if fetched:
        def part(i, j):
            return ms(statistics.median(e[j] - e[i] for e in fetched))
        print(f"Without a cache: {len(fetched)} token requests in {runs} runs; against a "
              f"static token {ms(cold - static)} ms more wall time per run, the SMTP "
              f"connection {ms(cold_smtp - static_smtp)} ms later (medians). Before it: start "
              f"to the endpoint's accept {part(0, 1)} ms, accept to answer (TLS handshake, "
              f"POST, answer) {part(1, 2)} ms, answer to the SMTP connection {part(2, 3)} ms.")
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
             ("20 MB, 76-byte lines", 20 * MB // 76, b"x" * 75, True),
             ("100 MB, 76-byte lines", 100 * MB // 76, b"x" * 75, True),
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


def tls_rate(pid, trials=10):
    """quillrun alone: a 10 MB message in clear text and over STARTTLS, in turns."""
    print(f"## 10 MB over TLS against clear text (quillrun, best of {trials} runs by wall time)\n")
    print("The same message to port 2525 (HELO, clear text) and to port 2587 (STARTTLS and "
          "AUTH PLAIN). MB/s over the whole run, as in the large-message table; dialogue = "
          "connection to DATA at the sink (TLS: STARTTLS, handshake and login).\n")
    print("| path | wall s | MB/s | intake s | dialogue s | DATA s | user s | sys s | "
          "peak RSS MiB | sink CPU s |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    path = message("/tmp/tls-rate", 10 * MB // 76)
    size = os.path.getsize(path)
    runners = {"clear text": clients(False)["quillrun"], "STARTTLS": tls_clients()["quillrun"]}
    results = {name: [] for name in runners}
    for _ in range(trials):
        for name, (argv, env) in runners.items():
            before, cpu0 = len(sink_times()), sink_cpu(pid)
            start, end, rss, user, system = timed(argv, env, path)
            row = sink_times()[before:][-1]
            if row[3] < size or row[4] != (name == "STARTTLS"):
                raise SystemExit(f"{name}: the sink got {row[3]:.0f} of {size} bytes, tls {row[4]}")
            results[name].append((end - start, row[0] - start, row[1] - row[0], row[2] - row[1],
                                  user, system, rss, sink_cpu(pid) - cpu0))
    rate, data_rate = {}, {}
    for name, runs in results.items():
        wall, intake, dialogue, data, user, system, _, cpu = min(runs)
        rate[name], data_rate[name] = size / MB / wall, size / MB / min(r[3] for r in runs)
        print(f"| {name} | {wall:.3f} | {rate[name]:.0f} | {intake:.3f} | {dialogue:.3f} | "
              f"{data:.3f} | {user:.2f} | {system:.2f} | {max(r[6] for r in runs) / 1024:.1f} | "
              f"{cpu:.3f} |")
    ratio = rate["STARTTLS"] / rate["clear text"]
    print(f"\n{size:,} bytes. TLS rate / clear-text rate: {ratio:.2f} "
          f"(goal ≥ 0.8: {met(ratio >= 0.8)}). The DATA phase alone (shortest of each): "
          f"{data_rate['STARTTLS']:.0f} against {data_rate['clear text']:.0f} MB/s, "
          f"{data_rate['STARTTLS'] / data_rate['clear text']:.2f}.\n")
    os.remove(path)


def write_message(path, header, piece, count, tail=b""):
    """`header`, then `piece` `count` times, then `tail`, written in about 1 MiB
    at a time so that Python never holds a large message."""
    per = max(1, (1 << 20) // len(piece))
    with open(path, "wb") as f:
        f.write(header)
        for _ in range(count // per):
            f.write(piece * per)
        f.write(piece * (count % per))
        f.write(tail)
    return path


def vm_hwm(pid):
    """Peak RSS in KiB of a running process, from /proc."""
    status = open(f"/proc/{pid}/status").read()
    return int(re.search(r"^VmHWM:\s+(\d+) kB", status, re.M).group(1))


def memory(pid, small):
    """Peak RSS of quillrun for messages it must never hold whole. Measured by
    /usr/bin/time, which forks from a small process: a child forked straight from
    this Python process would start with Python's peak RSS in ru_maxrss."""
    print("## Memory (peak RSS of quillrun, standard input from a file in tmpfs)\n")
    print("Each message delivered to the sink with status 0; RSS is the largest of the "
          "runs (for 1 KB the smallest and the largest), wall time the smallest. The "
          "difference is taken from the smallest 1 KB figure, so that run-to-run noise "
          "counts against the goal. 1 GB = 10^9 bytes, 1 MB = 10^6 bytes (977 KiB).\n")
    print("| message | bytes | runs | peak RSS KiB | over 1 KB KiB | goal | met | wall s | MB/s | "
          "intake s | DATA s | user s | sys s | sink CPU s |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    sink_before = vm_hwm(pid)
    floor = max(timed(["/bin/true"], {}, small)[2] for _ in range(3))
    argv = clients(False)["quillrun"][0]
    line = b"x" * 76 + b"\n"
    header = b"Subject: x\n\n"
    words = b"Subject: " + b"abcdefg " * ((900_000 - 9) // 8)
    cases = [  # label, file maker, runs, goal in bytes over the 1 KB figure
        ("1 KB", lambda p: small, 10, None),
        ("1 GB, 76-char lines", lambda p: write_message(
            p, header, line, (10**9 - len(header)) // len(line)), 2, MB),
        ("1 GB, one line", lambda p: write_message(p, header, b"z" * (1 << 20),
                                                   10**9 // (1 << 20),
                                                   b"z" * (10**9 % (1 << 20)) + b"\n"), 2, MB),
        ("900 KB header line", lambda p: write_message(
            p, words + b"\n\n", b"body\n", 1), 5, 4 * MB),
    ]
    base = None
    for label, make, runs, goal in cases:
        path = make("/tmp/memory-case")
        size = os.path.getsize(path)
        results = []
        for _ in range(runs):
            before, cpu0 = len(sink_times()), sink_cpu(pid)
            start, end, rss, user, system = timed(argv, {}, path)
            row = sink_times()[before:][-1]
            # The whole message reached the sink (the wire form only adds bytes).
            if row[3] < size:
                raise SystemExit(f"{label}: the sink got {row[3]:.0f} of {size} bytes")
            results.append((end - start, row[0] - start, row[2] - row[1], user, system,
                            sink_cpu(pid) - cpu0, rss))
        if path != small:
            os.remove(path)
        wall, intake, data, user, system, cpu, _ = min(results)
        rss = max(r[-1] for r in results)
        shown = f"{rss:,}"
        if base is None:
            base = min(r[-1] for r in results)
            shown = f"{base:,} – {rss:,}"
        over = f"{rss - base:+,}" if goal else "–"
        verdict = ("met" if (rss - base) * 1024 <= goal else "**not met**") if goal else "–"
        aim = f"≤ {goal // MB} MB" if goal else "–"
        timing = (f"{wall:.2f} | {size / MB / wall:.0f} | {intake:.2f} | {data:.2f} | "
                  f"{user:.2f} | {system:.2f} | {cpu:.2f}" if size >= 10**8 else
                  "– | – | – | – | – | – | –")
        print(f"| {label} | {size:,} | {runs} | {shown} | {over} | {aim} | {verdict} | {timing} |")
    print(f"| `/bin/true` (floor of the measure) | – | 3 | {floor:,} | – | – | – | – | – | – | – | – | – | – |")
    print(f"\nThe sink's own peak RSS: {sink_before / 1024:.1f} MiB before these runs, "
          f"{vm_hwm(pid) / 1024:.1f} MiB after (it keeps only the last bytes of the text, "
          "to find the end).\n")


def callgrind(path, system_roots):
    if not shutil.which("valgrind"):
        return
    print("## Instructions (callgrind, one run of the 1 KiB message)\n")
    print("| client | instructions |")
    print("|---|---|")
    runners = {**clients(False),
               **{f"{name}, STARTTLS and AUTH": how for name, how in tls_clients().items()},
               "quillrun, STARTTLS and AUTH, the system's roots": system_roots,
               # The cache that oauth() filled is still fresh.
               **{f"quillrun, XOAUTH2, {name}": how for name, how in oauth_clients().items()}}
    for name, (argv, env) in runners.items():
        out = f"/tmp/callgrind.{name}"
        run_once(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"] + argv, path, env)
        total = re.search(r"^summary: (\d+)", open(out).read(), re.M).group(1)
        print(f"| {name} | {int(total):,} |")
    print()


def main():
    # OpenSSL's trusted roots are the default paths alone, as on a machine
    # where nobody set these.
    os.environ.pop("SSL_CERT_FILE", None)
    os.environ.pop("SSL_CERT_DIR", None)
    os.makedirs(WORK, exist_ok=True)
    open(TIMES, "w").close()
    open(TOKEN_TIMES, "w").close()
    cert, key = make_certificate()
    install_test_root()
    sink = subprocess.Popen([sys.executable, os.path.join(HERE, "sink.py"), str(PORT), TIMES,
                             str(TLS_PORT), cert, key, USER, SECRET])
    # The endpoint hands out the sink's password as the access token.
    endpoint = subprocess.Popen([sys.executable, os.path.join(HERE, "token_endpoint.py"),
                                 str(TOKEN_PORT), cert, key, SECRET, TOKEN_TIMES])
    try:
        for port in (PORT, TLS_PORT, TOKEN_PORT):
            for _ in range(100):
                try:
                    socket.create_connection(("127.0.0.1", port)).close()
                    break
                except OSError:
                    time.sleep(0.05)
        print("Load average at start: " + open("/proc/loadavg").read().split()[0] + "\n")
        check_sink(sink.pid)
        check_sink(sink.pid, tls=True)
        small = message("/tmp/small", 13)  # about 1 KiB with the header
        latency(small)
        tls_latency(small)
        system_roots = tls_trust(small)
        oauth(small)
        large(sink.pid)
        tls_rate(sink.pid)
        memory(sink.pid, small)
        callgrind(small, system_roots)
        print("Load average at end: " + open("/proc/loadavg").read().split()[0])
    finally:
        for server in (sink, endpoint):
            server.terminate()
            server.wait()


main()
