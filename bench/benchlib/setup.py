"""What bench/run needs before it measures: Debian packages (nginx without its system service
started), the run's own mount namespace for the HTTPS figures, enough open files, and the
builds of the subjects and of runstat."""

from dataclasses import dataclass
import os
import resource
import shutil
import subprocess

from .procs import BenchError, say

NAMESPACE_VARIABLE = "MARLUNE_BENCH_NAMESPACE"
POLICY = "/usr/sbin/policy-rc.d"


def installed(package):
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                            capture_output=True, text=True)
    return "install ok installed" in result.stdout


def install(repo, packages):
    if subprocess.run([os.path.join(repo, "scripts/install-deps"), *packages]).returncode != 0:
        raise BenchError(f"installing {' '.join(packages)} failed")


def install_packages(repo, packages):
    """Installs nginx-light, forbidding its package to start a system-wide server, and
    `packages`."""
    if not installed("nginx-light"):
        made_policy = not os.path.lexists(POLICY)
        if made_policy:
            with open(POLICY, "w") as policy:
                policy.write("#!/bin/sh\nexit 101\n")
            os.chmod(POLICY, 0o755)
        try:
            install(repo, ["nginx-light"])
        finally:
            if made_policy:
                os.remove(POLICY)
    install(repo, packages)


def enter_mount_namespace(script, argv):
    """Runs the script again in a mount namespace of its own, private so that no mount made
    in it reaches the machine, and gone with its last process. Without root, a user namespace
    maps this user to root inside, which lets it mount. Returns only when already inside."""
    if os.environ.get(NAMESPACE_VARIABLE):
        return
    env = dict(os.environ)
    if os.getuid() == 0:
        env[NAMESPACE_VARIABLE] = "root"
        command = ["unshare", "--mount", "--propagation", "private"]
    else:
        env[NAMESPACE_VARIABLE] = f"user {os.getuid()} {os.getgid()}"
        command = ["unshare", "--user", "--map-root-user", "--mount", "--propagation", "private"]
    os.execvpe("unshare", [*command, "--", script, *argv], env)


def nginx_launch_prefix():
    """In a user namespace nginx would try to switch its workers to another user: it runs in a
    nested namespace as the user who started the run."""
    namespace = os.environ.get(NAMESPACE_VARIABLE, "")
    if not namespace.startswith("user"):
        return []
    _, uid, gid = namespace.split()
    return ["unshare", f"--map-user={uid}", f"--map-group={gid}", "--"]


def raise_open_files(clients):
    """nginx holds a connection per client at once (they may all land on one worker): returns
    (worker connections, open files) and raises the limit of open files to the latter."""
    worker_connections = max(clients * 2 + 256, 4096)
    open_files = worker_connections + 512
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft != resource.RLIM_INFINITY and soft < open_files:
        try:
            resource.setrlimit(resource.RLIMIT_NOFILE, (open_files, max(open_files, hard)))
        except (ValueError, OSError):
            raise BenchError(f"{clients} clients at once need {open_files} open files;"
                             f" the limit is {hard}") from None
    return worker_connections, open_files


def run_logged(args, log, failure):
    with open(log, "a") as out:
        if subprocess.run(args, stdout=out, stderr=subprocess.STDOUT).returncode == 0:
            return
    with open(log) as text:
        raise BenchError(f"{failure}:\n{text.read()}")


def build_subject(source, build, log, *configure):
    run_logged(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                *configure], log, "configure failed")
    run_logged(["cmake", "--build", build, f"-j{len(os.sched_getaffinity(0))}", "--target",
                "marluneTranslate", "marluneEmulator"], log, "build failed")


def build_runstat(repo, work):
    runstat = os.path.join(work, "runstat")
    run_logged(["g++", "-O2", "-std=c++17", "-Wall", "-Wextra", "-Werror", "-o", runstat,
                os.path.join(repo, "bench/runstat.cpp")], os.path.join(work, "g++.log"),
               "runstat did not build")
    return runstat


def build_baseline(repo, revision, log):
    """The client and emulator of commit `revision`, built into build-baseline/ (kept for the
    next run, rebuilt when the commit differs); returns the build folder."""
    found = subprocess.run(["git", "rev-parse", "--verify", f"{revision}^{{commit}}"],
                           capture_output=True, text=True)
    if found.returncode != 0:
        raise BenchError(f"no commit {revision}")
    rev = found.stdout.strip()
    base = os.path.join(repo, "build-baseline")
    stamp = os.path.join(base, "stamp")
    try:
        with open(stamp) as text:
            built = text.read().strip()
    except OSError:
        built = ""
    if built != rev:
        say(f"building the baseline {rev} into {base}")
        shutil.rmtree(base, ignore_errors=True)
        os.makedirs(os.path.join(base, "src"))
        archive = subprocess.run(["git", "archive", rev], capture_output=True, check=True).stdout
        subprocess.run(["tar", "-x", "-C", os.path.join(base, "src")], input=archive, check=True)
        build_subject(os.path.join(base, "src"), os.path.join(base, "build"), log,
                      "-DMARLUNE_TESTS=OFF")
        with open(stamp, "w") as text:
            text.write(rev + "\n")
    return os.path.join(base, "build")


@dataclass
class Subject:
    """A client and emulator measured: "new" (this checkout) or "old" (the baseline), each
    run from a folder of its own so that its log files land in the temporary folder."""

    name: str
    client: str
    emulator: str


def install_subject(work, name, build):
    folder = os.path.join(work, "bin", name)
    os.makedirs(folder)
    client = os.path.join(folder, "marluneTranslate")
    emulator = os.path.join(folder, "marluneEmulator")
    shutil.copy2(os.path.join(build, "marluneTranslate"), client)
    shutil.copy2(os.path.join(build, "emulator", "marluneEmulator"), emulator)
    return Subject(name, client, emulator)
