"""The servers of bench/run: emulators of each subject, and nginx serving the emulator's
answers byte for byte as static files, over HTTP and (for the HTTPS figures) over HTTPS, on
free ports of 127.0.0.1 with a generated configuration. nginx's system service is never
started: nginx runs in the foreground as a child of the run."""

from dataclasses import dataclass
import datetime
import os
import random
import re
import shutil
import signal
import subprocess
import time

from .procs import BenchError, say, signal_pid

KEY = "bench-key"
SECRET = "bench-secret"
LARGE_BYTES = 64 * 1024 * 1024
LARGE_MESSAGE = "translate job accepted for file 202"
STATIC_TOKEN = "svc-static-bench-token"


@dataclass
class Emulator:
    process: object
    base: str

    @property
    def pid(self):
        return self.process.pid


def start_emulator(bench, subject, name, *options):
    """Starts an emulator of `subject` and waits for its "listening on" line, which it prints
    once it accepts connections."""
    out_path = os.path.join(bench.work, f"emulator-{name}.out")
    log_path = os.path.join(bench.work, f"emulator-{name}.log")
    with open(out_path, "w") as out:
        process = bench.procs.start(
            [subject.emulator, "--port", "0", "--app-key", KEY, "--app-secret", SECRET,
             "--log", log_path, *options],
            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
    listening = re.compile(r"^listening on 127\.0\.0\.1:(\d+)$", re.M)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(out_path) as out:
            found = listening.search(out.read())
        if found:
            return Emulator(process, f"http://127.0.0.1:{found.group(1)}")
        if process.poll() is not None:
            with open(out_path) as out:
                raise BenchError(f"emulator {name} exited:\n{out.read()}")
        time.sleep(0.025)
    raise BenchError(f"emulator {name} did not start listening")


def ports_in_use():
    """The local and remote ports of every TCP socket of the machine's network namespace."""
    used = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as lines:
                next(lines)
                for line in lines:
                    local, remote = line.split()[1:3]
                    used.add(int(local.rsplit(":", 1)[1], 16))
                    used.add(int(remote.rsplit(":", 1)[1], 16))
        except OSError:
            continue
    return used


def free_ports(count):
    """Ports of 127.0.0.1 that no socket uses, listening or connected, and below the range the
    system hands out to outgoing connections (so that no client takes one meanwhile)."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as text:
            low = int(text.read().split()[0])
    except (OSError, ValueError, IndexError):
        low = 32768
    used = ports_in_use()
    candidates = [p for p in random.sample(range(10000, low), 200) if p not in used]
    if len(candidates) < count:
        raise BenchError("no free port")
    return candidates[:count]


def write_static_answers(www, expected_large):
    """The answers nginx serves, byte for byte those of the emulator for the same requests,
    and what the client's result file must hold after the large commit."""
    expire = (datetime.datetime.now() + datetime.timedelta(days=1)).strftime("%Y-%m-%d %H:%M:%S")
    for folder in ("small", "large"):
        os.makedirs(os.path.join(www, folder), exist_ok=True)
    files = {
        "token.json": '{"code":"success","message":"token issued","data":'
                      f'{{"token":"{STATIC_TOKEN}","expireTime":"{expire}"}}}}',
        "small/commit.json": '{"code":"success","message":"translate job accepted for file 101"}',
        # A static status answer stays "processing": a waitfor against nginx ends on its overtime.
        "status.json": '{"code":"success","message":"translation in progress",'
                       '"data":{"status":"processing"}}',
    }
    for name, text in files.items():
        with open(os.path.join(www, name), "w") as out:
            out.write(text)
    padding = "." * (LARGE_BYTES - len(LARGE_MESSAGE))
    head = '{"code":"success","message":"' + LARGE_MESSAGE + padding
    with open(os.path.join(www, "large/commit.json"), "w") as out:
        out.write(head + '"}')
    with open(expected_large, "w") as out:
        out.write(head + '","data":{"fileitemid":"202"}}')
    for root, folders, names in os.walk(www):
        for name in folders + names:
            os.chmod(os.path.join(root, name), 0o755 if name in folders else 0o644)


def static_locations(www, poll_log=None, commit="small"):
    """nginx's locations for the service's paths. PUT to a static file is refused with 405 by
    nginx; error_page serves the file instead."""
    status_log = f" access_log {poll_log} polls;" if poll_log else ""
    lines = [f"location = /oauth2/token {{ alias {www}/token.json; error_page 405 =200 $uri; }}"]
    if commit:
        lines.append(f"location = /v2/translate {{ alias {www}/{commit}/commit.json; "
                     "error_page 405 =200 $uri; }")
    if commit != "large":
        lines.append(f"location = /translate {{ alias {www}/status.json;{status_log} }}")
    return "\n        ".join(lines)


class Nginx:
    """nginx on four free ports: `http` (small answers, status requests logged), `http_large`
    (the 64 MiB answer), and with TLS `https`, keeping connections (nginx's default 75 s), and
    `https_close`, closing each after its answer. Both HTTPS servers keep TLS sessions for
    resumption, as servers commonly do. Every status request nginx answers on `http` and
    `https` is logged with its time and file id (`poll_log_http`, `poll_log_https`)."""

    def __init__(self, bench, tls, open_files, worker_connections, launch_prefix):
        self.bench = bench
        self.tls = tls
        self.dir = os.path.join(bench.work, "nginx")
        self.www = os.path.join(bench.work, "www")
        self.open_files = open_files
        self.worker_connections = worker_connections
        self.launch_prefix = launch_prefix
        self.poll_log_http = os.path.join(self.dir, "polls-http.log")
        self.poll_log_https = os.path.join(self.dir, "polls-https.log")
        os.makedirs(self.dir, exist_ok=True)

    def tls_servers(self, tls_port, close_port):
        if not self.tls:
            return ""
        certificate = (f"ssl_certificate {self.tls.path('server.pem')};\n"
                       f"        ssl_certificate_key {self.tls.path('server.key')};\n"
                       "        ssl_session_cache shared:bench:10m;")
        return f"""
      server {{
        listen 127.0.0.1:{tls_port} ssl backlog=4096;
        {certificate}
        keepalive_timeout 75s;
        {static_locations(self.www, self.poll_log_https)}
      }}
      server {{
        listen 127.0.0.1:{close_port} ssl backlog=4096;
        {certificate}
        keepalive_timeout 0;
        {static_locations(self.www, commit=None)}
      }}"""

    def configuration(self, small, large, tls_port, close_port):
        d = self.dir
        return f"""daemon off;
    worker_processes auto;
    worker_rlimit_nofile {self.open_files};
    pid {d}/nginx.pid;
    error_log {d}/error.log;
    events {{ worker_connections {self.worker_connections}; }}
    http {{
      access_log off;
      log_format polls '$msec $arg_fileId';
      client_body_temp_path {d}/body;
      proxy_temp_path {d}/proxy;
      fastcgi_temp_path {d}/fastcgi;
      uwsgi_temp_path {d}/uwsgi;
      scgi_temp_path {d}/scgi;
      default_type application/json;
      server {{
        listen 127.0.0.1:{small} backlog=4096;
        {static_locations(self.www, self.poll_log_http)}
      }}
      server {{
        listen 127.0.0.1:{large} backlog=4096;
        {static_locations(self.www, commit="large")}
      }}{self.tls_servers(tls_port, close_port)}
    }}
"""

    def answers(self, url):
        return subprocess.run(["curl", "-s", "-k", "-o", "/dev/null", f"{url}/oauth2/token"],
                              stdin=subprocess.DEVNULL).returncode == 0

    def try_start(self, nginx_bin, ports):
        small, large, tls_port, close_port = ports
        with open(os.path.join(self.dir, "nginx.conf"), "w") as conf:
            conf.write(self.configuration(small, large, tls_port, close_port))
        urls = [f"http://127.0.0.1:{small}", f"http://127.0.0.1:{large}"]
        if self.tls:
            urls += [f"https://127.0.0.1:{tls_port}", f"https://127.0.0.1:{close_port}"]
        with open(os.path.join(self.dir, "out"), "w") as out:
            process = self.bench.procs.start(
                [*self.launch_prefix, nginx_bin, "-p", self.dir, "-c",
                 os.path.join(self.dir, "nginx.conf"), "-e", os.path.join(self.dir, "error.log")],
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        for _ in range(400):
            if all(self.answers(url) for url in urls):
                self.http, self.http_large = urls[0], urls[1]
                self.https = f"https://127.0.0.1:{tls_port}"
                self.https_close = f"https://127.0.0.1:{close_port}"
                return True
            if process.poll() is not None:
                break
            time.sleep(0.025)
        signal_pid(process.pid, signal.SIGTERM)
        process.wait()
        self.bench.procs.forget(process)
        return False

    def start(self):
        """Starts nginx; on other ports when one was taken in the meantime."""
        nginx_bin = shutil.which("nginx") or "/usr/sbin/nginx"
        for attempt in range(1, 6):
            ports = free_ports(4)
            if self.try_start(nginx_bin, ports):
                return
            say(f"nginx did not start on ports {', '.join(map(str, ports))} (attempt {attempt}):")
            for name in ("out", "error.log"):
                try:
                    with open(os.path.join(self.dir, name)) as text:
                        say(text.read())
                except OSError:
                    pass
        raise BenchError("nginx did not start")

    def check_trust(self):
        """curl, with its default settings, must trust the test CA through /etc/ssl/certs."""
        for url in (self.https, self.https_close):
            if subprocess.run(["curl", "-s", "-f", "-o", "/dev/null", f"{url}/oauth2/token"],
                              stdin=subprocess.DEVNULL).returncode != 0:
                raise BenchError(f"curl does not trust the test CA at {url} through /etc/ssl/certs")
