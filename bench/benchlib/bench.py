"""The state a figure measures with: the subjects, the servers, the tokens, the temporary
folder, and every run's figures so far (runstat's wall time, CPU time and peak memory, and
the poll gaps of crowds). Closing it stops every process, unmounts the trust store and removes
the temporary folder, on any way out."""

import base64
import filecmp
import json
import os
import shutil
import signal
import subprocess
import tempfile

from . import stats
from .procs import BenchError, Processes
from .servers import KEY, SECRET

COLUMNS = {"wall": 0, "cpu": 1, "rss": 2}


def read_text(path):
    """A file's text, "" when it cannot be read."""
    try:
        with open(path) as text:
            return text.read()
    except OSError:
        return ""


def load_average():
    with open("/proc/loadavg") as text:
        return " ".join(text.read().split()[:3])


class Bench:
    def __init__(self, settings):
        self.settings = settings
        self.procs = Processes()
        self.runstat = None
        self.subjects = []
        self.trust = None
        self.nginx = None
        self.emulators = {}
        self.tokens = {}
        self.large_expected = None
        self.raw = {}
        self.gaps = {}
        self.baseline_short = ""
        self.load_before = ""  # read when the measuring starts, after the builds
        self.credential = base64.b64encode(f"{KEY}:{SECRET}".encode()).decode()
        self.work = tempfile.mkdtemp(prefix="marlune-bench.", dir=os.environ.get("TMPDIR"))
        try:
            os.chmod(self.work, 0o755)  # nginx's workers read the answers
            for folder in ("cfg", "out"):
                os.makedirs(self.path(folder))
        except BaseException:
            shutil.rmtree(self.work, ignore_errors=True)
            raise

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def close(self):
        """Stops every process of the run, unmounts the trust store and removes the temporary
        folder; a second Ctrl-C does not cut it short."""
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        self.procs.stop_all()
        if self.trust:
            self.trust.unmount()
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    @property
    def has_baseline(self):
        return bool(self.settings.baseline)

    def before(self, compute, *args):
        """A figure computed for the baseline, or "-" without one."""
        return compute(*args) if self.has_baseline else "-"

    # --- Measuring.
    def measure(self, figure, who, command, copies=0):
        """One timed run of `command` (a list, or several joined by "+++") by runstat, kept
        as a run of FIGURE's WHO; with `copies`, that many started at once, "{}" in their
        arguments standing for the copy's number."""
        options = ["-p", str(copies)] if copies else []
        process = self.procs.start([self.runstat, *options, "--", *command],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        line = process.communicate()[0].strip()
        self.procs.forget(process)
        if process.returncode != 0:
            raise BenchError(f"{figure}/{who}: runstat failed")
        wall, cpu, rss, failed = (int(field) for field in line.split())
        if failed:
            raise BenchError(f"{figure}/{who}: a command failed (runstat: {line})")
        self.add_run(figure, who, wall, cpu, rss)

    def add_run(self, figure, who, wall, cpu, rss):
        self.raw.setdefault((figure, who), []).append((wall, cpu, rss))

    def runs_of(self, figure, who):
        return len(self.raw.get((figure, who), []))

    def median(self, figure, who, column):
        """The median of FIGURE's WHO: "wall" and "cpu" in µs, "rss" (peak) in KiB."""
        runs = self.raw.get((figure, who))
        if not runs:
            raise BenchError(f"{figure}/{who}: no run measured")
        return stats.median(run[COLUMNS[column]] for run in runs)

    def cores(self, figure, who):
        """CPU time over wall time: the cores kept busy on average."""
        return stats.ratio(self.median(figure, who, "cpu"), self.median(figure, who, "wall"), 3)

    def crowd(self, figure, who):
        return self.gaps.setdefault((figure, who), stats.CrowdGaps())

    def crowd_p99(self, figure, who):
        """The p99 gap of a crowd, with the polls its clients made when not six each."""
        crowd = self.gaps[(figure, who)]
        made = crowd.polls_made(self.runs_of(figure, who))
        p99 = stats.seconds_text(crowd.quantile(0.99))
        return p99 if made == "6 polls each" else f"{p99} ({made})"

    # --- Checking.
    def check_result(self, figure, path, expected):
        """The client's result file must hold exactly `expected`."""
        found = read_text(path)
        if found.rstrip("\n") != expected:
            raise BenchError(f"{figure}: wrong result file {path}: {found[:300]}")

    def check_result_file(self, figure, path, expected_path):
        """The client's result file must be byte for byte the file `expected_path`."""
        try:
            if filecmp.cmp(path, expected_path, shallow=False):
                return
        except OSError:
            pass
        raise BenchError(f"{figure}: wrong result file {path}")

    # --- The client's configuration and curl's requests.
    def write_config(self, path, cmdtype, base, file_id, output, overtime=120):
        config = {"cmdtype": cmdtype, "rooturl": base, "accounturl": base,
                  "appkey": KEY, "appsecret": SECRET,
                  "requestbody": {"source": {"fileId": file_id}}, "output": output,
                  "overtime": overtime}
        with open(path, "w") as out:
            json.dump(config, out)

    def token_request(self, base, output="/dev/null"):
        """curl asking for a service token, as the client's first request."""
        return ["curl", "-s", "-f", "-o", output, "-X", "POST",
                "-H", f"Authorization:Basic {self.credential}",
                "-H", "Content-Type: application/json", f"{base}/oauth2/token"]

    def commit_request(self, base, token, file_id):
        """curl's options for the commit of `file_id`, as the client's second request."""
        return ["-s", "-f", "-o", "/dev/null", "-X", "PUT", "-H", f"Authorization:Bearer {token}",
                "-H", "Content-Type: application/json",
                "--data-binary", json.dumps({"source": {"fileId": file_id}}, separators=(",", ":")),
                f"{base}/v2/translate"]

    def ca_directory(self):
        """curl's tool always names a CA bundle, its built-in one unless given another, and
        parses it whole for its first connection. Given one file holding a single CA
        certificate that signs nothing here, beside the directory, it parses that one
        certificate and looks the test CA up in the directory by subject hash, as the client
        does."""
        return ["--capath", "/etc/ssl/certs", "--cacert", self.trust.path("unrelated-ca.pem")]

    def service_token(self, base):
        """A service token from the server at `base`, for curl's commit and status requests."""
        answer = subprocess.run(self.token_request(base, output="-"), stdin=subprocess.DEVNULL,
                                capture_output=True, text=True)
        try:
            return json.loads(answer.stdout)["data"]["token"]
        except (ValueError, KeyError, TypeError):
            raise BenchError(f"no service token from {base}: {answer.stdout[:300]}") from None
