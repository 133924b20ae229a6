"""A test PKI, made with the openssl command on first use and kept for the
rest of the test run (in memory: the PEM texts travel to each sandbox in its
case).

    pki.get().root                  # what the sandbox's system store trusts
    pki.get().served["good"]        # a leaf and its chain, as a server sends them
    pki.get().keys["good"]

ROOT signs INTERMEDIATE, which signs the leaves "good" (the case host name
and 127.0.0.1), "wrong_name" and "expired" (a month of 2020), and those of
the name rule (RFC 6125 6.4): "wildcard" (WILDCARD, which covers the case
host name), "wildcard_tld" (*.test, over a whole top-level domain),
"nul_name" (NUL_NAME, the case host name and more after a NUL) and
"address_as_name" (127.0.0.1 as a DNS name, not an IP address); and
"login", a token endpoint's, for LOGIN_NAMES. OTHER_ROOT is a CA nobody
trusts (until a case names it in tls_ca_file); it signs "other", a leaf for
the same names as "good". RSA throughout: Wine's crypt32 checks the chains
of the Windows build.
"""

import subprocess
import tempfile
from dataclasses import dataclass

from harness import HOST

WRONG_NAMES = ("wrong.example.net", "www.wrong.example.net")
DAYS = 3000  # each leaf from now on, within its issuers' 3650 days
EXPIRED = ("20200101000000Z", "20200201000000Z")  # openssl ca's -startdate and -enddate
WILDCARD = "*." + HOST.decode().split(".", 1)[1]
LOGIN_NAMES = ("login.test", "login.microsoftonline.com")
NUL_NAME = HOST + b"\0.evil.example"

INTERMEDIATE_EXTENSIONS = "basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n"
LEAF_EXTENSIONS = ("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                   "extendedKeyUsage=serverAuth\nsubjectAltName={names}\n")

# A CA for `openssl ca` that signs whatever it is handed, with the dates and
# extensions of each call.
CA_CONFIG = """\
[ca]
default_ca = test_ca
[test_ca]
database = {dir}/index.txt
new_certs_dir = {dir}
rand_serial = yes
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
"""


@dataclass
class Pki:
    root: str        # PEM of the trusted root
    other_root: str  # PEM of the root nobody trusts
    served: dict     # leaf name -> PEM of the leaf and the intermediates a server sends with it
    keys: dict       # leaf name -> PEM of its private key


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def _read(path):
    with open(path) as f:
        return f.read()


def _write(path, text):
    with open(path, "w") as f:
        f.write(text)


def _request(d, name, subject):
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
             "-subj", f"/CN={subject}", cwd=d)


def _sign(d, name, issuer, extensions, dates=None):
    """`name`.csr signed by `issuer` into `name`.pem, valid from now for DAYS or between `dates`."""
    _write(f"{d}/{name}.ext", extensions)
    validity = ["-startdate", dates[0], "-enddate", dates[1]] if dates else ["-days", str(DAYS)]
    _openssl("ca", "-batch", "-notext", "-config", "ca.cnf", "-cert", f"{issuer}.pem", "-keyfile", f"{issuer}.key",
             *validity, "-extfile", f"{name}.ext", "-in", f"{name}.csr", "-out", f"{name}.pem", cwd=d)


def _root(d, name, subject):
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.pem",
             "-subj", f"/CN={subject}", "-days", "3650", "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=d)


def _leaf(d, name, issuer, names, dates=None, subject=None):
    _request(d, name, subject or names[0].split(":", 1)[1])
    _sign(d, name, issuer, LEAF_EXTENSIONS.format(names=",".join(names)), dates)


def _dns_name_der(name):
    """subjectAltName as openssl's "DER:" form: a SEQUENCE of the one dNSName
    `name` (bytes, shorter than 126), which may hold what the text form cannot."""
    entry = b"\x82" + bytes([len(name)]) + name
    return "DER:" + (b"\x30" + bytes([len(entry)]) + entry).hex()


def make(d):
    """The PKI, made in the directory `d`."""
    _write(f"{d}/ca.cnf", CA_CONFIG.format(dir=d))
    _write(f"{d}/index.txt", "")
    _root(d, "root", "quillrun test root")
    _root(d, "other_root", "a root nobody trusts")
    _request(d, "intermediate", "quillrun test intermediate")
    _sign(d, "intermediate", "root", INTERMEDIATE_EXTENSIONS)
    right = [f"DNS:{HOST.decode()}", "IP:127.0.0.1"]
    _leaf(d, "good", "intermediate", right)
    _leaf(d, "wrong_name", "intermediate", [f"DNS:{n}" for n in WRONG_NAMES])
    _leaf(d, "expired", "intermediate", right, EXPIRED)
    _leaf(d, "other", "other_root", right)
    _leaf(d, "wildcard", "intermediate", [f"DNS:{WILDCARD}"])
    _leaf(d, "wildcard_tld", "intermediate", ["DNS:*.test"])
    _leaf(d, "nul_name", "intermediate", [_dns_name_der(NUL_NAME)], subject="a name with a NUL")
    _leaf(d, "address_as_name", "intermediate", ["DNS:127.0.0.1"])
    _leaf(d, "login", "intermediate", [f"DNS:{n}" for n in LOGIN_NAMES])
    intermediate = _read(f"{d}/intermediate.pem")
    leaves = ("good", "wrong_name", "expired", "other", "wildcard", "wildcard_tld", "nul_name", "address_as_name",
              "login")
    served = {n: _read(f"{d}/{n}.pem") + (intermediate if n != "other" else "") for n in leaves}
    return Pki(root=_read(f"{d}/root.pem"), other_root=_read(f"{d}/other_root.pem"), served=served,
               keys={n: _read(f"{d}/{n}.key") for n in leaves})


_made = None


def get():
    """The PKI of this test run, made on the first call."""
    global _made
    if _made is None:
        with tempfile.TemporaryDirectory(prefix="quillrun-pki-") as d:
            _made = make(d)
    return _made

