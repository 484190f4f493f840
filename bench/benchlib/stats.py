"""The arithmetic of bench/run: medians of runs, quantiles of poll gaps, the gaps of a crowd of
waitfors from the status requests a server saw, and the formats of the table's numbers."""

from collections import Counter
from dataclasses import dataclass, field
import math


def median(values):
    """The median of whole numbers, rounded to a whole number (halves to even)."""
    ordered = sorted(values)
    if not ordered:
        raise ValueError("no values")
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return round((ordered[middle - 1] + ordered[middle]) / 2)


def nearest_rank(values, quantile):
    """The smallest value that at least `quantile` of the values do not exceed; None for none."""
    ordered = sorted(values)
    if not ordered:
        return None
    rank = max(1, math.ceil(quantile * len(ordered)))
    return ordered[rank - 1]


@dataclass
class CrowdGaps:
    """What a crowd of waitfors showed: each gap between a client's consecutive status requests
    (seconds, and the number of the poll that ended it, 2 on), how many clients made how many
    polls, and the server's lines they came from."""

    gaps: list = field(default_factory=list)
    polls: Counter = field(default_factory=Counter)
    lines: list = field(default_factory=list)

    def add_crowd(self, lines, clients):
        """Adds one crowd's status requests, lines of "SECONDS FILEID", for `clients` clients
        (a client that made none counts as zero polls)."""
        requests = {}
        for line in lines:
            seconds, file_id = line.split()
            requests.setdefault(int(file_id), []).append(float(seconds))
        for times in requests.values():
            times.sort()
            for poll, (earlier, later) in enumerate(zip(times, times[1:]), start=2):
                self.gaps.append((round(later - earlier, 3), poll))
            self.polls[len(times)] += 1
        if len(requests) < clients:
            self.polls[0] += clients - len(requests)
        self.lines.extend(lines)

    def quantile(self, quantile, from_poll=2):
        """A quantile of the gaps that ended at poll `from_poll` or later; None when none."""
        return nearest_rank([gap for gap, poll in self.gaps if poll >= from_poll], quantile)

    def polls_made(self, runs):
        """How many polls the clients made, per run: "6 polls each", or every count seen."""
        counts = sorted(self.polls.items())
        if len(counts) == 1:
            return f"{counts[0][0]} polls each"
        return ", ".join(f"{clients / runs:g} clients {polls} polls" for polls, clients in counts)


def seconds_text(value):
    """A gap in seconds as the table shows it, "-" for none."""
    return "-" if value is None else f"{value:.3f}"


def ms(micros):
    return f"{micros / 1000:.2f}"


def mib(kib):
    return f"{kib / 1024:.1f}"


def ratio(numerator, denominator, digits=2):
    return f"{numerator / denominator:.{digits}f}"
