"""The rows of the table, the table as printed, bench/results.json, and every run's figures
for BENCH_RAW."""

from dataclasses import dataclass
import datetime
import json
import os
import subprocess

from .bench import load_average


@dataclass
class Row:
    """One line of the table. `value` is the ratio or value as printed (a number); `op` and
    `target` ("<=", "1.0") make it pass or fail, None where the row has no target; `before`
    is the same figure for the baseline, or "-"."""

    figure: str
    client: str
    peer: str
    value: str
    op: str = None
    target: str = None
    before: str = "-"

    def passed(self):
        if self.op is None:
            return None
        value, target = float(self.value), float(self.target)
        return {"<=": value <= target, "==": value == target}[self.op]

    def target_text(self):
        return "-" if self.op is None else f"{self.op} {self.target}"

    def verdict(self):
        return {None: "-", True: "pass", False: "FAIL"}[self.passed()]

    def table_line(self):
        return (f"| {self.figure} | {self.client} | {self.peer} | {self.value} |"
                f" {self.target_text()} | {self.before} | {self.verdict()} |")

    def json(self):
        return {"figure": self.figure, "client": self.client, "peer": self.peer,
                "value": number(self.value), "target": self.target_text(),
                "before": self.before, "pass": self.passed()}


class Number(str):
    """A number as printed ("1.10", "5.002", "7000"), written into the JSON as that text."""


def number(text):
    float(text)  # a number, or a ValueError here rather than broken JSON later
    return Number(text)


def json_text(value):
    return str(value) if isinstance(value, Number) else json.dumps(value, ensure_ascii=False)


def json_item(item):
    """One figure, gap or median of the results: an object on one line."""
    return "{" + ", ".join(f"{json.dumps(k)}: {json_text(v)}" for k, v in item.items()) + "}"


def git_text(*args):
    result = subprocess.run(["git", *args], capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else ""


def describe_commit():
    """The checkout's short commit, "-dirty" when its tracked sources (not the results) differ."""
    commit = git_text("rev-parse", "--short", "HEAD") or "unknown"
    changed = git_text("status", "--porcelain", "--untracked-files=no", "--", ".",
                       ":!bench/results.json", ":!bench/concurrency.*")
    return commit + ("-dirty" if changed else "")


def describe_machine():
    with open("/proc/meminfo") as meminfo:
        kib = next(int(line.split()[1]) for line in meminfo if line.startswith("MemTotal"))
    with open("/proc/cpuinfo") as cpuinfo:
        model = next((line.split(":", 1)[1].strip() for line in cpuinfo
                      if line.startswith("model name")), "")
    return f"{len(os.sched_getaffinity(0))} cores, {kib / 1048576:.0f} GiB, {model}"


class Report:
    """What the run prints and writes once its figures are measured."""

    def __init__(self, bench, rows, counts):
        self.bench = bench
        self.rows = rows
        self.counts = counts
        self.date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
        self.commit = describe_commit()
        self.baseline = bench.baseline_short
        self.machine = describe_machine()
        self.load_before = bench.load_before
        self.load_after = load_average()

    def heading(self):
        c = self.counts
        before = f", before = {self.baseline}" if self.baseline else ""
        return [
            f"{self.date}, commit {self.commit}{before}; {self.machine}",
            f"medians of {c['runs']} runs (64 MiB: {c['large_runs']}, polls: {c['waitfor_runs']},"
            f" clients at once: {c['parallel_runs']}, HTTPS translate: {c['https_runs']},"
            f" HTTPS polls: {c['https_poll_runs']}, waitfors at once:"
            f" {c['parallel_waitfor_runs']}); load average before {self.load_before},"
            f" after {self.load_after}",
        ]

    def print_table(self):
        print()
        print("\n".join(self.heading()))
        if self.rows:
            print()
            print("| figure | client | peer | ratio or value | target | before | |")
            print("|---|---|---|---|---|---|---|")
            for row in self.rows:
                print(row.table_line())

    def poll_gaps(self):
        entries = []
        for (figure, who), crowd in sorted(self.bench.gaps.items()):
            median, p99 = crowd.quantile(0.5), crowd.quantile(0.99)
            entries.append({"figure": figure, "who": who,
                            "median_s": None if median is None else number(f"{median:.3f}"),
                            "p99_s": None if p99 is None else number(f"{p99:.3f}"),
                            "cores": number(self.bench.cores(figure, who)),
                            "polls": crowd.polls_made(self.bench.runs_of(figure, who))})
        return entries

    def medians(self):
        return [{"figure": figure, "who": who,
                 "wall_us": self.bench.median(figure, who, "wall"),
                 "cpu_us": self.bench.median(figure, who, "cpu"),
                 "peak_rss_kib": self.bench.median(figure, who, "rss")}
                for figure, who in sorted(self.bench.raw)]

    def document(self):
        return {"date": self.date, "commit": self.commit, "baseline": self.baseline,
                "machine": self.machine, **self.counts,
                "load_before": self.load_before, "load_after": self.load_after,
                "figures": [row.json() for row in self.rows],
                "poll_gaps": self.poll_gaps(), "medians": self.medians()}

    def write_results(self, path):
        """The results as JSON, one figure a line. A run that measured none of the table's
        figures leaves the file as it was."""
        if not self.rows:
            return False
        document = self.document()
        lines = ["{"]
        for key, value in document.items():
            if isinstance(value, list):
                items = [f"    {json_item(item)}" for item in value]
                lines.append(f'  "{key}": [\n' + ",\n".join(items) + "\n  ],")
            else:
                lines.append(f'  "{key}": {json_text(value)},')
        lines[-1] = lines[-1].rstrip(",")
        lines.append("}")
        text = "\n".join(lines) + "\n"
        json.loads(text)  # the layout above must still be JSON
        with open(path, "w") as out:
            out.write(text)
        return True


def write_raw(bench, folder):
    """Every run's figures, one file per figure and subject ("wall µs, CPU µs, peak RSS KiB"
    per line), and in gaps/ each crowd's poll gaps, its clients' polls and the server's
    lines."""
    os.makedirs(os.path.join(folder, "gaps"), exist_ok=True)
    for (figure, who), runs in bench.raw.items():
        with open(os.path.join(folder, f"{figure}.{who}"), "w") as out:
            out.writelines(f"{wall} {cpu} {rss} 0\n" for wall, cpu, rss in runs)
    for (figure, who), crowd in bench.gaps.items():
        name = os.path.join(folder, "gaps", f"{figure}.{who}")
        with open(name, "w") as out:
            out.writelines(f"{gap:.3f} {poll}\n" for gap, poll in crowd.gaps)
        with open(name + ".polls", "w") as out:
            out.writelines(f"{clients:7d} {polls}\n"
                           for polls, clients in sorted(crowd.polls.items()))
        with open(name + ".log", "w") as out:
            out.writelines(line + "\n" for line in crowd.lines)
