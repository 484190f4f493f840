"""The client's runs that the figures time: one run, checked by its result file; a waitfor
whose CPU time between its polls is read from the kernel; many clients at once, and the gaps
between the status requests of a crowd of waitfors."""

import glob
import os
import subprocess
import time

from .bench import read_text
from .procs import BenchError, say, stat_fields

SMALL_RESULT = ('{"code":"success","message":"translate job accepted for file 101",'
                '"data":{"fileitemid":"101"}}')
CROWD_FIRST_ID = 10000


def waitfor_result(file_id):
    return f'{{"code":"success","message":"","data":{{"fileitemid":"{file_id}"}}}}'


def overtime_result(file_id):
    return f'{{"code":"failed","message":"overtime!","data":{{"fileitemid":"{file_id}"}}}}'


def client_run(bench, figure, subject, base, file_id):
    """One timed translate of `file_id` by `subject`'s client against `base`; returns the path
    of its result file, for the caller to check."""
    config = bench.path("cfg", f"{figure}.{subject.name}.json")
    output = bench.path("out", f"{figure}.{subject.name}.json")
    if not os.path.exists(config):
        bench.write_config(config, "translate", base, file_id, output)
    if os.path.exists(output):
        os.remove(output)
    bench.measure(figure, subject.name, [subject.client, "-cfg", config])
    return output


def process_has_ended(pid):
    """Whether a child not yet reaped has ended (a zombie: its counts are final)."""
    return stat_fields(pid)[0] in ("Z", "X")


def cpu_count_ns(pid):
    """The kernel's count of the CPU time of the process's (only) thread, in nanoseconds."""
    with open(f"/proc/{pid}/schedstat") as schedstat:
        return int(schedstat.read().split()[0])


class Waitfor:
    """One waitfor of `subject` on `file_id` that must end with `expected` after five polls
    (at 5, 10, 15, 20 and 25 s), `processing` of them answered "processing". Its CPU count is
    read at 7.5 and 22.5 s after its start, between polls, so that the three polls in between
    are measured without the start of the process. It is the run's child and is not reaped
    until both reads are made: its /proc folder stays, ended or not, so a read never races its
    end. A run that had ended before its last read (its count would hold the fifth poll and
    the exit) is left out of the figure with a note, and still checked."""

    READS = {"first": 7.5, "last": 22.5}
    POLLS_BETWEEN = 3

    def __init__(self, bench, figure, subject, base, file_id, overtime, expected, processing):
        self.bench, self.figure, self.subject = bench, figure, subject
        self.expected, self.processing = expected, processing
        config = bench.path("cfg", f"{figure}.{subject.name}.json")
        self.output = bench.path("out", f"{figure}.{subject.name}.json")
        self.stdout = bench.path("out", f"{figure}.{subject.name}.stdout")
        bench.write_config(config, "waitfor", base, file_id, self.output, overtime)
        if os.path.exists(self.output):
            os.remove(self.output)
        with open(self.stdout, "w") as out:
            self.process = bench.procs.start([subject.client, "-cfg", config],
                                             stdin=subprocess.DEVNULL, stdout=out,
                                             stderr=subprocess.DEVNULL)
        self.started = time.monotonic()
        self.counts = {}
        self.ended_before_read = False

    @property
    def name(self):
        return f"{self.figure}/{self.subject.name}"

    def read_times(self):
        return [(self.started + delay, which) for which, delay in self.READS.items()]

    def read_cpu(self, which):
        if process_has_ended(self.process.pid):
            self.ended_before_read = True
        self.counts[which] = cpu_count_ns(self.process.pid)

    def finish(self):
        """Reaps the client, checks its exit status, result and polls, and keeps its CPU time
        per poll between the reads, in µs."""
        status = self.process.wait()
        self.bench.procs.forget(self.process)
        if status != 0:
            raise BenchError(f"{self.name}: exit status {status}")
        self.bench.check_result(self.figure, self.output, self.expected)
        with open(self.stdout) as out:
            if out.read().count("+") != self.processing:
                raise BenchError(f"{self.name}: not five polls")
        if self.ended_before_read:
            say(f"{self.name}: the client had ended before its CPU time was read;"
                " this run is left out of the figure")
            return
        per_poll_us = (self.counts["last"] - self.counts["first"]) // (self.POLLS_BETWEEN * 1000)
        self.bench.add_run(self.figure, self.subject.name, 0, per_poll_us, 0)


def run_waitfors(waitfors):
    """Reads the CPU counts of waitfors running side by side, each at its own times, in the
    order of those times; then reaps and checks them."""
    reads = sorted(((at, index, which) for index, waitfor in enumerate(waitfors)
                    for at, which in waitfor.read_times()))
    for at, index, which in reads:
        delay = at - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        waitfors[index].read_cpu(which)
    for waitfor in waitfors:
        waitfor.finish()


def many_clients(bench, figure, subject, base, clients, cmdtype, file_id_of, overtime=120):
    """`clients` clients of `subject` started at once, each with a configuration of its own
    (written once per figure and subject): client i on file `file_id_of(i)`. Returns the
    paths of their result files, in order."""
    folder = bench.path("many", f"{figure}.{subject.name}")
    results = [os.path.join(folder, f"result.{i}") for i in range(clients)]
    if not os.path.isdir(folder):
        os.makedirs(folder)
        for i in range(clients):
            bench.write_config(os.path.join(folder, f"{i}.json"), cmdtype, base, file_id_of(i),
                               results[i], overtime)
    for stale in glob.glob(os.path.join(folder, "result.*")):
        os.remove(stale)
    bench.measure(figure, subject.name, [subject.client, "-cfg", os.path.join(folder, "{}.json")],
                  copies=clients)
    return results


def crowd_clients(bench, figure, subject, base, clients, overtime, result_of):
    """A crowd of waitfors, each on a file id of its own from CROWD_FIRST_ID on, whose result
    file must hold exactly `result_of(file id)`. Returns how many do, and the first that does
    not with what it holds ("" when all do)."""
    results = many_clients(bench, figure, subject, base, clients, "waitfor",
                           lambda i: CROWD_FIRST_ID + i, overtime)
    intact, first_wrong = 0, ""
    for i, path in enumerate(results):
        text = read_text(path)
        if text.rstrip("\n") == result_of(CROWD_FIRST_ID + i):
            intact += 1
        elif not first_wrong:
            first_wrong = f"{path}: {text[:300]}"
    return intact, first_wrong


def crowd_run(bench, figure, subject, base, poll_log, clients):
    """A crowd of waitfors against nginx keeping connections: six polls each, at 5 to 30 s
    after its start, then "overtime!" (29 s). nginx's log of the status requests it answered
    (time and file id) gives the gaps between a client's consecutive polls. A client whose
    status requests did not get through in time still ends with "overtime!", and shows as
    fewer polls."""
    open(poll_log, "w").close()
    intact, first_wrong = crowd_clients(bench, figure, subject, base, clients, 29,
                                        overtime_result)
    if intact != clients:
        raise BenchError(f"{figure}/{subject.name}: {clients - intact} wrong result files;"
                         f" the first, {first_wrong}")
    with open(poll_log) as log:
        bench.crowd(figure, subject.name).add_crowd(log.read().splitlines(), clients)
