"""The private trust store of the HTTPS figures: a test CA, a certificate it signs for
127.0.0.1 (RSA 2048, as most servers' certificates), and the CA added to a copy of
/etc/ssl/certs as update-ca-certificates would add it: a file, its subject-hash link, and its
text at the end of the bundle. The copy is mounted over /etc/ssl/certs in the run's own mount
namespace only; the machine's store is never changed."""

import os
import shutil
import subprocess

from .procs import BenchError
from .setup import run_logged

SYSTEM_CERTS = "/etc/ssl/certs"
BUNDLE = "ca-certificates.crt"


class TrustStore:
    def __init__(self, work):
        self.dir = os.path.join(work, "tls")
        self.copy = os.path.join(work, "certs")
        self.log = os.path.join(work, "openssl.log")
        self.mounted = False

    def path(self, name):
        return os.path.join(self.dir, name)

    def openssl(self, *args):
        run_logged(["openssl", *args], self.log, "making the test certificates failed")

    def make_certificates(self):
        os.makedirs(self.dir, mode=0o700)
        p = self.path
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                     "-subj", "/CN=marlune bench test CA",
                     "-addext", "basicConstraints=critical,CA:TRUE",
                     "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                     "-keyout", p("ca.key"), "-out", p("ca.pem"))
        self.openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                     "-keyout", p("server.key"), "-out", p("server.csr"))
        with open(p("server.ext"), "w") as ext:
            ext.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=critical,CA:FALSE\n"
                      "keyUsage=critical,digitalSignature,keyEncipherment\n"
                      "extendedKeyUsage=serverAuth\n")
        self.openssl("x509", "-req", "-in", p("server.csr"), "-CA", p("ca.pem"),
                     "-CAkey", p("ca.key"), "-set_serial", "0x" + os.urandom(8).hex(),
                     "-days", "2", "-extfile", p("server.ext"), "-out", p("server.pem"))
        # A CA that signs nothing here, for curl told to look certificates up in the directory.
        self.openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                     "-nodes", "-days", "2", "-subj", "/CN=marlune bench unrelated CA",
                     "-addext", "basicConstraints=critical,CA:TRUE",
                     "-keyout", p("unrelated-ca.key"), "-out", p("unrelated-ca.pem"))

    def subject_hash(self):
        return subprocess.run(["openssl", "x509", "-hash", "-noout", "-in", self.path("ca.pem")],
                              capture_output=True, text=True, check=True).stdout.strip()

    def make_copy(self):
        """The system's store copied (links kept), the test CA added as update-ca-certificates
        would: the bundle first, then the certificate and its hash link, so that the directory
        is not older than the bundle (the client then trusts the directory alone)."""
        if not os.path.isfile(os.path.join(SYSTEM_CERTS, BUNDLE)):
            raise BenchError(f"no CA store at {SYSTEM_CERTS} to copy")
        shutil.copytree(SYSTEM_CERTS, self.copy, symlinks=True)
        bundle = os.path.join(self.copy, BUNDLE)
        if os.path.islink(bundle):
            # Appending through a link would change the file it points to.
            target = os.path.realpath(bundle)
            os.unlink(bundle)
            shutil.copyfile(target, bundle)
        with open(self.path("ca.pem")) as ca, open(bundle, "a") as out:
            out.write(ca.read())
        hashed = self.subject_hash()
        n = 0
        while os.path.lexists(os.path.join(self.copy, f"{hashed}.{n}")):
            n += 1
        shutil.copyfile(self.path("ca.pem"), os.path.join(self.copy, "marlune-bench-test-ca.pem"))
        os.symlink("marlune-bench-test-ca.pem", os.path.join(self.copy, f"{hashed}.{n}"))

    def mount(self):
        """Mounts the copy over /etc/ssl/certs, only ever in a mount namespace of this run's own."""
        try:
            outside = os.readlink("/proc/1/ns/mnt")
        except OSError:
            outside = ""
        if os.readlink("/proc/self/ns/mnt") == outside:
            raise BenchError("not in a mount namespace of its own: the trust store is not mounted")
        self.mounted = True
        if subprocess.run(["mount", "--bind", self.copy, SYSTEM_CERTS]).returncode != 0:
            self.mounted = False
            raise BenchError("cannot mount the trust store")

    def unmount(self):
        if not self.mounted:
            return
        for args in (["umount", SYSTEM_CERTS], ["umount", "-l", SYSTEM_CERTS]):
            if subprocess.run(args, stderr=subprocess.DEVNULL).returncode == 0:
                break
        self.mounted = False

    def set_up(self):
        self.make_certificates()
        self.make_copy()
        self.mount()
