"""The command line and the environment of bench/run, read once into Settings."""

import argparse
from dataclasses import dataclass
import os

USAGE = """bench/run [--baseline REV] [--only FIGURE[,FIGURE...]]... [--list] [runs]

Measures marluneTranslate and marluneEmulator against their strongest peers on 127.0.0.1 and
prints a table of medians, ratios and targets (also written as JSON).
  runs              runs per short figure (default 21)
  --baseline REV    also measures the client and emulator built from the commit REV, in the
                    same alternation ("before" column)
  --only FIGURES    measures only these figures (as FIGURES does); --list names them

Environment: BUILD_DIR (build), BENCH_RESULTS (bench/results.json), LARGE_RUNS (15),
WAITFOR_RUNS (5, for the polls over HTTP and over HTTPS), PARALLEL_RUNS (7), PARALLEL_CLIENTS
(200), PARALLEL_WAITFORS (1000), PARALLEL_WAITFOR_RUNS (1), SCENARIO_CLIENTS (1000),
CONCURRENCY_CLIENTS ("100 250 500 1000"), CONCURRENCY_OUT (bench/concurrency: its .dat and
.png), FIGURES (which to measure, default all but "concurrency"), BENCH_RAW (a folder to receive
every run's figures, one file per figure and subject)."""


@dataclass
class Settings:
    repo: str
    baseline: str
    runs: int
    large_runs: int
    waitfor_runs: int
    parallel_runs: int
    parallel_clients: int
    parallel_waitfors: int
    parallel_waitfor_runs: int
    scenario_clients: int
    concurrency_clients: list
    concurrency_out: str
    build_dir: str
    results: str
    raw_dir: str
    figures: list
    list_figures: bool


def env_count(name, default):
    text = os.environ.get(name, "")
    if not text:
        return default
    if not text.isdigit():
        raise SystemExit(f"bench/run: {name} must be a whole number, not {text!r}")
    return int(text)


def figure_names(texts):
    """Names from "a b" or "a,b" texts, in order, each once."""
    names = []
    for text in texts:
        for name in text.replace(",", " ").split():
            if name not in names:
                names.append(name)
    return names


def read_settings(argv, repo, default_figures):
    parser = argparse.ArgumentParser(prog="bench/run", usage=USAGE, add_help=True)
    parser.add_argument("runs", nargs="?", type=int, default=21)
    parser.add_argument("--baseline", default="")
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args(argv)
    chosen = args.only or [os.environ.get("FIGURES", "")]
    figures = figure_names(chosen) or list(default_figures)
    clients = os.environ.get("CONCURRENCY_CLIENTS", "100 250 500 1000").split()
    if not all(n.isdigit() for n in clients):
        raise SystemExit("bench/run: CONCURRENCY_CLIENTS must be whole numbers")
    return Settings(
        repo=repo,
        baseline=args.baseline,
        runs=args.runs,
        large_runs=env_count("LARGE_RUNS", 15),
        waitfor_runs=env_count("WAITFOR_RUNS", 5),
        parallel_runs=env_count("PARALLEL_RUNS", 7),
        parallel_clients=env_count("PARALLEL_CLIENTS", 200),
        parallel_waitfors=env_count("PARALLEL_WAITFORS", 1000),
        parallel_waitfor_runs=env_count("PARALLEL_WAITFOR_RUNS", 1),
        scenario_clients=env_count("SCENARIO_CLIENTS", 1000),
        concurrency_clients=[int(n) for n in clients],
        concurrency_out=os.environ.get("CONCURRENCY_OUT") or "bench/concurrency",
        build_dir=os.environ.get("BUILD_DIR") or "build",
        results=os.environ.get("BENCH_RESULTS") or "bench/results.json",
        raw_dir=os.environ.get("BENCH_RAW", ""),
        figures=figures,
        list_figures=args.list,
    )
