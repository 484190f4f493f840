"""The processes bench/run starts: each one kept, so that on any way out every one of them, and
whatever they started in turn, is stopped by its pid."""

import os
import signal
import subprocess
import sys


class BenchError(Exception):
    """A run that cannot go on: a command failed, a result was wrong, a server did not start."""


def say(*parts):
    print(*parts, file=sys.stderr, flush=True)


def stat_fields(pid):
    """The fields of /proc/PID/stat after the command's name, the state first (the name, in
    parentheses, may hold spaces)."""
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().rsplit(")", 1)[1].split()


def child_pids():
    """Every process of the machine by its parent: {ppid: [pid, ...]}."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            ppid = int(stat_fields(entry)[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(entry))
    return children


def descendants(pid):
    """The processes below `pid`, listed before any is stopped, so that none is left to init."""
    children = child_pids()
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def signal_pid(pid, signum):
    try:
        os.kill(pid, signum)
    except (ProcessLookupError, PermissionError):
        pass


class Processes:
    """The servers and commands of the run, stopped together by `stop_all`."""

    def __init__(self):
        self.running = []

    def start(self, args, **options):
        process = subprocess.Popen(args, **options)
        self.running.append(process)
        return process

    def forget(self, process):
        self.running = [p for p in self.running if p is not process]

    def stop_all(self):
        """Stops every process started here and every one of their descendants, then reaps
        those started here (a server given ten seconds, then killed)."""
        left = descendants(os.getpid())
        for process in self.running:
            if process.returncode is None:
                signal_pid(process.pid, signal.SIGTERM)
        for pid in left:
            signal_pid(pid, signal.SIGTERM)
        for process in self.running:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.running = []
