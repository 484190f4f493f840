"""The figures of bench/run: one function each, registered under the name that FIGURES and
--only select it by, measured and tabled in the order registered here. A figure function
takes the Bench, times runs with bench.measure (or the helpers of clients.py), alternating
subjects and peers run by run, and returns its rows of the table (report.Row)."""

from dataclasses import dataclass
import json
import os
import re
import subprocess
import time

from . import clients
from .clients import SMALL_RESULT, Waitfor, overtime_result, waitfor_result
from .procs import BenchError, say, stat_fields
from .report import Row, describe_commit, describe_machine
from .bench import load_average
from .servers import start_emulator
from .stats import mib, ms, ratio, seconds_text


@dataclass
class Figure:
    name: str
    measure: object
    tls: bool
    packages: tuple
    clients_at_once: object
    default: bool


REGISTRY = {}


def figure(name, *, tls=False, packages=(), clients_at_once=None, default=True):
    """Registers a figure function under `name`. tls: it needs the HTTPS servers and the
    private trust store; packages: Debian packages it needs; clients_at_once(settings): the
    most clients it starts at once (nginx's connections and the open files follow); default:
    measured when FIGURES and --only name nothing."""
    def register(function):
        REGISTRY[name] = Figure(name, function, tls, packages,
                                clients_at_once or (lambda settings: 0), default)
        return function
    return register


def default_figures():
    return [name for name, entry in REGISTRY.items() if entry.default]


# --- Shared by several figures.
def emulator_base(bench, subject, kind):
    return bench.emulators[(subject.name, kind)].base


def emulator_token(bench, subject, kind):
    return bench.tokens[(subject.name, kind)]


def translate_peers(bench, figure_name, base, token):
    """curl making the client's two requests, token then commit: as one process (--next, on
    one connection) and as two."""
    token_request = bench.token_request(base)
    commit = bench.commit_request(base, token, 101)
    bench.measure(figure_name, "curl1", [*token_request, "--next", *commit])
    bench.measure(figure_name, "curl2", [*token_request, "+++", "curl", *commit])


def nginx_and_emulators(bench, runs, prefix, nginx, kind, client_run, peers):
    """`runs` runs of each subject's client against nginx at `nginx` (figure PREFIX-nginx) and
    against its own emulator of `kind` (PREFIX-emulator-SUBJECT), then of `peers` against the
    same servers."""
    for _ in range(runs):
        for subject in bench.subjects:
            client_run(bench, f"{prefix}-nginx", subject, nginx)
            client_run(bench, f"{prefix}-emulator-{subject.name}", subject,
                       emulator_base(bench, subject, kind))
        peers(bench, f"{prefix}-nginx", nginx, bench.tokens["nginx"])
        for subject in bench.subjects:
            peers(bench, f"{prefix}-emulator-{subject.name}", emulator_base(bench, subject, kind),
                  emulator_token(bench, subject, kind))


def server_figures(prefix, server):
    """The figures of the subjects "new" and "old" against `server`, "nginx" or "emulator"."""
    if server == "nginx":
        return f"{prefix}-nginx", f"{prefix}-nginx"
    return f"{prefix}-emulator-new", f"{prefix}-emulator-old"


def peer_ratio(bench, figure_name, who, peer, column):
    """A median of `who` over that of `peer` in the same figure."""
    return ratio(bench.median(figure_name, who, column), bench.median(figure_name, peer, column))


def translate_run(bench, figure_name, subject, base):
    output = clients.client_run(bench, figure_name, subject, base, 101)
    bench.check_result(figure_name, output, SMALL_RESULT)


def poll_peer(bench, figure_name, base, token, file_id, options=()):
    """curl making eleven status requests (FIGURE11) and one (FIGURE1)."""
    get = ["-s", "-f", "-o", "/dev/null", "-H", f"Authorization:Bearer {token}",
           "-H", "Content-Type: application/json", *options, f"{base}/translate?fileId={file_id}"]
    many = ["curl", *get]
    for _ in range(10):
        many += ["--next", *get]
    bench.measure(f"{figure_name}11", "curl", many)
    bench.measure(f"{figure_name}1", "curl", ["curl", *get])


def subjects_in_turn(bench, run):
    """The subjects, each starting first in turn: waitfors run side by side, and the one started
    first was measured dearer, whichever it was."""
    turn = run % len(bench.subjects)
    return bench.subjects[turn:] + bench.subjects[:turn]


def cpu_per_poll(bench, figure_name, who):
    return f"{bench.median(figure_name, who, 'cpu') / 1000:.3f}"


def curl_cpu_per_poll(bench, figure_name):
    """curl's CPU per status request: eleven requests less one, divided by ten."""
    eleven = bench.median(f"{figure_name}11", "curl", "cpu")
    one = bench.median(f"{figure_name}1", "curl", "cpu")
    return f"{(eleven - one) / 10000:.3f}"


def crowd_text(bench, figure_name, who):
    """The gaps of a crowd as the table gives them: median, p99, p99 from the 4th poll on."""
    crowd = bench.gaps[(figure_name, who)]
    p99 = crowd.quantile(0.99)
    if p99 is None:
        raise BenchError(f"{figure_name}/{who}: no client made two polls"
                         f" ({crowd.polls_made(bench.runs_of(figure_name, who))})")
    return (seconds_text(p99),
            f"median {seconds_text(crowd.quantile(0.5))} s, p99 {seconds_text(p99)} s,"
            f" from the 4th poll on {seconds_text(crowd.quantile(0.99, 4))} s;"
            f" {crowd.polls_made(bench.runs_of(figure_name, who))}")


# --- The figures, in the order of the table.
@figure("translate")
def translate(bench):
    """Translate (token + commit) over HTTP against nginx and against the emulator: wall and
    CPU against one curl process and two, and peak memory."""
    nginx_and_emulators(bench, bench.settings.runs, "translate", bench.nginx.http, "small",
                        translate_run, translate_peers)
    if not bench.settings.runs:
        return []
    rows = translate_rows(bench, "nginx") + translate_rows(bench, "emulator")
    rss, curl_rss = (bench.median("translate-nginx", who, "rss") for who in ("new", "curl1"))
    rows.append(Row("peak RSS, translate: client / one curl process", f"{mib(rss)} MiB",
                    f"{mib(curl_rss)} MiB", ratio(rss, curl_rss), "<=", "1.0",
                    bench.before(lambda: ratio(bench.median("translate-nginx", "old", "rss"),
                                               curl_rss))))
    return rows


def translate_rows(bench, server):
    now, then = server_figures("translate", server)
    rows = []
    for what, column, peer, peer_name in (("wall", "wall", "curl1", "one curl process"),
                                          ("CPU", "cpu", "curl1", "one curl process"),
                                          ("wall", "wall", "curl2", "two curl processes")):
        client, other = bench.median(now, "new", column), bench.median(now, peer, column)
        rows.append(Row(f"translate, {what} ({server}): client / {peer_name}", f"{ms(client)} ms",
                        f"{ms(other)} ms", ratio(client, other), "<=", "1.0",
                        bench.before(peer_ratio, bench, then, "old", peer, column)))
    return rows


@figure("https", tls=True)
def https(bench):
    """Translate over HTTPS against nginx: the client, which names only the CA directory,
    against curl with its default CA settings and curl told to use the directory."""
    name, base = "translate-https", bench.nginx.https
    say(f"measuring translate over HTTPS: {bench.settings.runs} runs")
    for _ in range(bench.settings.runs):
        for subject in bench.subjects:
            translate_run(bench, name, subject, base)
        token_request = bench.token_request(base)
        commit = bench.commit_request(base, bench.tokens["nginx"], 101)
        directory = bench.ca_directory()
        bench.measure(name, "curl1", [*token_request, "--next", *commit])
        bench.measure(name, "curldir", [*token_request, *directory, "--next", *commit, *directory])
    if not bench.settings.runs:
        return []
    peers = (("curl1", "one curl process, its default CA settings", "0.5"),
             ("curldir", "one curl process, CA directory", "1.0"))
    rows = []
    for what, column, with_target in (("CPU", "cpu", True), ("wall", "wall", False)):
        for peer, peer_name, target in peers:
            client, other = bench.median(name, "new", column), bench.median(name, peer, column)
            rows.append(Row(f"translate over HTTPS, {what}: client / {peer_name}",
                            f"{ms(client)} ms", f"{ms(other)} ms", ratio(client, other),
                            "<=" if with_target else None, target if with_target else None,
                            bench.before(peer_ratio, bench, name, "old", peer, column)))
    return rows


def large_run(bench, figure_name, subject, base):
    output = clients.client_run(bench, figure_name, subject, base, 202)
    bench.check_result_file(figure_name, output, bench.large_expected)


def large_peers(bench, figure_name, base, token):
    """curl making the two requests in one process, and the same keeping the answer in a
    file beside the client's result, as the client must."""
    token_request = bench.token_request(base)
    commit = bench.commit_request(base, token, 202)
    bench.measure(figure_name, "curl1", [*token_request, "--next", *commit])
    answer = bench.path("out", "curl-answer.json")
    if os.path.exists(answer):
        os.remove(answer)
    bench.measure(figure_name, "curlfile", [*token_request, "--next", *commit, "-o", answer])


@figure("large")
def large(bench):
    """A commit answer whose "message" is 64 MiB, from nginx and from the emulator; its peak
    memory above that of a small translate (when translate was measured too)."""
    runs = bench.settings.large_runs
    say(f"measuring 64 MiB answers: {runs} runs")
    nginx_and_emulators(bench, runs, "large", bench.nginx.http_large, "large", large_run,
                        large_peers)
    if not runs:
        return []
    rows = large_rows(bench, "nginx") + large_rows(bench, "emulator")
    if bench.runs_of("translate-nginx", "new"):
        rows.append(large_rss_row(bench))
    return rows


def large_rows(bench, server):
    now, then = server_figures("large", server)
    wall, cpu = bench.median(now, "new", "wall"), bench.median(now, "new", "cpu")
    curl, curl_file = bench.median(now, "curl1", "wall"), bench.median(now, "curlfile", "wall")
    before = bench.before(peer_ratio, bench, then, "old", "curl1", "wall")
    return [
        Row(f"64 MiB answer ({server}), wall: client / one curl process",
            f"{ms(wall)} ms ({ms(cpu)} ms CPU)", f"{ms(curl)} ms", ratio(wall, curl), "<=", "2.0",
            before),
        Row(f"64 MiB answer ({server}), wall: client / curl writing the answer to a file",
            f"{ms(wall)} ms", f"{ms(curl_file)} ms", ratio(wall, curl_file)),
    ]


def large_rss_row(bench):
    """Peak memory of the 64 MiB answer less that of a small translate, in answers."""
    def above(who):
        extra = (bench.median("large-nginx", who, "rss")
                 - bench.median("translate-nginx", who, "rss"))
        return f"{extra / 65536:.2f}"

    return Row("64 MiB answer, peak RSS above the translate's, in answers",
               f"{mib(bench.median('large-nginx', 'new', 'rss'))} MiB",
               f"{mib(bench.median('large-nginx', 'curl1', 'rss'))} MiB", above("new"), "<=", "1.3",
               bench.before(above, "old"))


@figure("poll")
def poll(bench):
    """CPU of a status poll over HTTP: a waitfor polls an emulator at 5 to 25 s (its job ends
    at the fifth poll) and its CPU time between 7.5 and 22.5 s is divided by the three polls
    in between; the subjects run side by side, as they sleep between polls. The peer: one
    curl process making eleven status requests against one making one."""
    runs = bench.settings.waitfor_runs
    say(f"measuring status polls: {runs} runs of 25 s")
    for run in range(1, runs + 1):
        file_id = 500 + run
        waitfors = []
        for subject in subjects_in_turn(bench, run):
            base = emulator_base(bench, subject, "poll")
            token = emulator_token(bench, subject, "poll")
            subprocess.run(["curl", *bench.commit_request(base, token, file_id)],
                           stdin=subprocess.DEVNULL, check=True)
            waitfors.append(Waitfor(bench, "poll", subject, base, file_id, 120,
                                    waitfor_result(file_id), 4))
        clients.run_waitfors(waitfors)
        new = bench.subjects[0]
        poll_peer(bench, "poll", emulator_base(bench, new, "poll"),
                  emulator_token(bench, new, "poll"), file_id)
    if not runs:
        return []
    value = cpu_per_poll(bench, "poll", "new")
    return [Row("CPU per status poll, ms", f"{value} ms", f"{curl_cpu_per_poll(bench, 'poll')} ms",
                value, "<=", "0.6", bench.before(cpu_per_poll, bench, "poll", "old"))]


@figure("https-poll", tls=True)
def https_poll(bench):
    """CPU of a status poll over HTTPS, against nginx keeping connections and nginx closing
    each: its answer stays "processing", and an overtime of 22 s ends the waitfor after its
    fifth poll (at 25 s). The waitfors start a second apart, so that their polls and
    handshakes do not meet. curl uses the CA directory: its default bundle, parsed whole by
    the first request and by each new connection, would swamp the difference of ten
    requests."""
    runs = bench.settings.waitfor_runs
    servers = (("keep", bench.nginx.https), ("close", bench.nginx.https_close))
    say(f"measuring status polls over HTTPS: {runs} runs of 28 s")
    for run in range(1, runs + 1):
        file_id = 600 + run
        waitfors = []
        for subject in subjects_in_turn(bench, run):
            for server, base in servers:
                waitfors.append(Waitfor(bench, f"https-poll-{server}", subject, base, file_id, 22,
                                        overtime_result(file_id), 5))
                time.sleep(1)
        clients.run_waitfors(waitfors)
        for server, base in servers:
            poll_peer(bench, f"https-poll-{server}", base, bench.tokens["nginx"], file_id,
                      bench.ca_directory())
    if not runs:
        return []
    rows = []
    for server, label, target in (("keep", "server keeping connections", "0.5"),
                                  ("close", "server closing every connection", "3")):
        name = f"https-poll-{server}"
        value = cpu_per_poll(bench, name, "new")
        rows.append(Row(f"CPU per status poll over HTTPS, ms: {label}", f"{value} ms",
                        f"{curl_cpu_per_poll(bench, name)} ms", value, "<=", target,
                        bench.before(cpu_per_poll, bench, name, "old")))
    return rows


def parallel_run(bench, figure_name, subject, base):
    count = bench.settings.parallel_clients
    results = clients.many_clients(bench, figure_name, subject, base, count, "translate",
                                   lambda i: 101)
    for path in results:
        bench.check_result(figure_name, path, SMALL_RESULT)


@figure("parallel", clients_at_once=lambda settings: settings.parallel_clients)
def parallel(bench):
    """Many clients started at once (PARALLEL_CLIENTS), against the emulator and nginx."""
    settings = bench.settings
    say(f"measuring {settings.parallel_clients} clients at once: {settings.parallel_runs} runs")
    for _ in range(settings.parallel_runs):
        for subject in bench.subjects:
            parallel_run(bench, "parallel-emulator", subject,
                         emulator_base(bench, subject, "small"))
            parallel_run(bench, "parallel-nginx", subject, bench.nginx.http)
    if not settings.parallel_runs:
        return []

    def wall(figure_name, who):
        return bench.median(figure_name, who, "wall")

    emulator, nginx = wall("parallel-emulator", "new"), wall("parallel-nginx", "new")
    return [Row(f"{settings.parallel_clients} clients at once: emulator / nginx, wall",
                f"{ms(emulator)} ms", f"{ms(nginx)} ms", ratio(emulator, nginx), "<=", "1.2",
                bench.before(lambda: ratio(wall("parallel-emulator", "old"),
                                           wall("parallel-nginx", "old"))))]


@figure("https-parallel", tls=True, clients_at_once=lambda settings: settings.parallel_waitfors)
def https_parallel(bench):
    """Many waitfors at once (PARALLEL_WAITFORS) against nginx keeping connections, over HTTP
    and HTTPS, each on a file id of its own, six polls each: the gaps between a client's
    polls from nginx's log, and the cores the clients kept busy (their start included)."""
    settings, nginx = bench.settings, bench.nginx
    count, runs = settings.parallel_waitfors, settings.parallel_waitfor_runs
    say(f"measuring {count} waitfors at once, over HTTP and HTTPS: {runs} runs of 31 s")
    for _ in range(runs):
        for subject in bench.subjects:
            clients.crowd_run(bench, "waitfors-http", subject, nginx.http, nginx.poll_log_http,
                              count)
            clients.crowd_run(bench, "waitfors-https", subject, nginx.https, nginx.poll_log_https,
                              count)
    if not runs:
        return []
    rows = []
    for scheme in ("http", "https"):
        name, label = f"waitfors-{scheme}", f"{count} waitfors at once ({scheme.upper()})"
        p99, text = crowd_text(bench, name, "new")
        rows.append(Row(f"{label}: p99 gap between polls, s", text, "-", p99, "<=", "5.2",
                        bench.before(bench.crowd_p99, name, "old")))
        cpu, wall = bench.median(name, "new", "cpu"), bench.median(name, "new", "wall")
        rows.append(Row(f"{label}: client CPU, cores", f"{ms(cpu)} ms CPU in {ms(wall)} ms", "-",
                        bench.cores(name, "new"), before=bench.before(bench.cores, name, "old")))
    return rows


SCENARIO_POLLS = 6
POLL_TARGET = "/translate?fileId="


def write_scenario(path, count):
    """Each client's job scripted: five "processing", then "success"."""
    steps = ["processing"] * (SCENARIO_POLLS - 1) + ["success"]
    jobs = {str(clients.CROWD_FIRST_ID + i): steps for i in range(count)}
    with open(path, "w") as out:
        json.dump({"jobs": jobs}, out, separators=(",", ":"))


def emulator_usage(pid):
    """Peak memory (VmHWM, KiB) and CPU time (user + system, µs) of a running emulator."""
    with open(f"/proc/{pid}/status") as status:
        rss = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    # utime and stime, the 14th and 15th fields, in clock ticks.
    fields = stat_fields(pid)
    ticks = int(fields[11]) + int(fields[12])
    return rss, round(ticks * 1000000 / os.sysconf("SC_CLK_TCK"))


def count_log_lines(path):
    """What the emulator's log shows: the requests it answered and the connections it had,
    the journal's read and its connection left out."""
    with open(path, errors="replace") as log:
        lines = log.read().splitlines()
    answered = sum(1 for line in lines if re.match(r"^[^ ]+ [^ ]+ [A-Z]+ /[^ ]* -> ", line))
    admin = sum(1 for line in lines if " /__emulator/" in line)
    opened = sum(1 for line in lines if re.match(r"^[^ ]+ [^ ]+ connection [0-9]+ opened", line))
    return answered - admin, opened - 1


def scenario_run(bench, subject, scenario, journal_size):
    """The crowd against an emulator of `subject` started for it alone; its journal, CPU
    time and peak memory are read before it stops."""
    count = bench.settings.scenario_clients
    name = f"scenario-scale/{subject.name}"
    emulator = start_emulator(bench, subject, f"scenario-{subject.name}",
                              "--tls-cert", bench.trust.path("server.pem"),
                              "--tls-key", bench.trust.path("server.key"),
                              "--scenario", scenario, *journal_size)
    base = emulator.base.replace("http://", "https://")
    intact, first_wrong = clients.crowd_clients(bench, "scenario-scale", subject, base, count,
                                                120, waitfor_result)
    if first_wrong:
        say(f"{name}: a wrong result file, {first_wrong}")
    journal_path = bench.path(f"journal-{subject.name}.json")
    if subprocess.run(["curl", "-sf", "-o", journal_path, f"{base}/__emulator/requests"],
                      stdin=subprocess.DEVNULL).returncode != 0:
        raise BenchError(f"{name}: the emulator's journal could not be read")
    rss, cpu = emulator_usage(emulator.pid)
    emulator.process.terminate()
    status = emulator.process.wait()
    bench.procs.forget(emulator.process)
    if status != 0:
        raise BenchError(f"{name}: the emulator ended with status {status}")
    with open(journal_path) as text:
        journal = json.load(text)
    if not isinstance(journal, list):
        raise BenchError(f"{name}: the emulator's journal is no JSON array")
    polls = [f"{entry['time'] / 1000:.3f} {entry['target'][len(POLL_TARGET):]}"
             for entry in journal
             if entry.get("method") == "GET" and entry.get("target", "").startswith(POLL_TARGET)]
    bench.crowd("scenario-scale", subject.name).add_crowd(polls, count)
    served, connections = count_log_lines(bench.path(f"emulator-scenario-{subject.name}.log"))
    return {"intact": intact, "rss": rss, "cpu": cpu, "entries": len(journal), "served": served,
            "connections": connections}


@figure("scenario-scale", tls=True, clients_at_once=lambda settings: settings.scenario_clients)
def scenario_scale(bench):
    """The emulator as an integration-test double at scale: as many waitfors at once over
    HTTPS as SCENARIO_CLIENTS, connections kept, against an emulator with a scenario that
    scripts each one's job (six polls each) and its journal on; each subject's emulator in
    turn. Every result file must be the success result, the journal must hold every request
    the emulator's log shows. Beside it the same crowd against nginx: that of https-parallel
    when it ran with as many clients, else one run here."""
    count = bench.settings.scenario_clients
    say(f"measuring {count} waitfors at once against the emulator with a scenario, over HTTPS")
    scenario = bench.path("scenario.json")
    write_scenario(scenario, count)
    # A token and the polls for each client; the journal keeps 10000 entries unless told more.
    requests = count * (SCENARIO_POLLS + 1)
    journal_size = ["--journal-size", str(requests)] if requests > 10000 else []
    measured = {s.name: scenario_run(bench, s, scenario, journal_size) for s in bench.subjects}
    peer = "waitfors-https"
    if not (bench.runs_of(peer, "new") and bench.settings.parallel_waitfors == count):
        peer = "scenario-nginx"
        clients.crowd_run(bench, peer, bench.subjects[0], bench.nginx.https,
                          bench.nginx.poll_log_https, count)
    return scenario_rows(bench, measured, peer)


def scenario_rows(bench, measured, peer):
    name, count = "scenario-scale", bench.settings.scenario_clients
    label = f"{count} waitfors at once against the emulator with a scenario (HTTPS)"
    new, old = measured["new"], measured.get("old", {})
    p99, text = crowd_text(bench, name, "new")
    peer_crowd = bench.gaps[(peer, "new")]

    def emulator_cores(who):
        return ratio(measured[who]["cpu"], bench.median(name, who, "wall"), 3)

    cpu_target, rss_target = "0.2", 200 * 1024
    if bench.has_baseline:
        cpu_target, rss_target = emulator_cores("old"), old["rss"]
    wall = bench.median(name, "new", "wall")
    return [
        Row(f"{label}: p99 gap between polls, s", text,
            f"nginx: median {seconds_text(peer_crowd.quantile(0.5))} s,"
            f" p99 {bench.crowd_p99(peer, 'new')} s", p99, "<=", "5.3",
            bench.before(bench.crowd_p99, name, "old")),
        Row(f"{label}: result files intact", f"{new['intact']} of {count} the success result",
            "-", str(new["intact"]), "==", str(count), bench.before(lambda: str(old["intact"]))),
        Row(f"{label}: emulator CPU, cores", f"{ms(new['cpu'])} ms CPU in {ms(wall)} ms", "-",
            emulator_cores("new"), "<=", cpu_target, bench.before(emulator_cores, "old")),
        Row(f"{label}: emulator peak RSS, MiB", f"{mib(new['rss'])} MiB (VmHWM)", "-",
            mib(new["rss"]), "<=", mib(rss_target), bench.before(lambda: mib(old["rss"]))),
        Row(f"{label}: journal entries, against the requests in the emulator's log",
            f"{new['entries']} entries; log: {new['served']} requests on"
            f" {new['connections']} connections", "-", str(new["entries"]), "==",
            str(new["served"]), bench.before(lambda: f"{old['entries']} of {old['served']}")),
    ]


@figure("concurrency", tls=True, packages=("gnuplot-nox",),
        clients_at_once=lambda settings: max(settings.concurrency_clients, default=0),
        default=False)
def concurrency(bench):
    """The picture: the crowd of https-parallel for each of CONCURRENCY_CLIENTS, one run
    each, over HTTP and HTTPS, now and before; writes CONCURRENCY_OUT's .dat and .png and
    leaves bench/results.json as it was (no rows)."""
    nginx = bench.nginx
    counts = bench.settings.concurrency_clients
    say(f"measuring waitfors at once for the picture: {', '.join(map(str, counts))} clients")
    for count in counts:
        for subject in bench.subjects:
            clients.crowd_run(bench, f"concurrency-http-{count}", subject, nginx.http,
                              nginx.poll_log_http, count)
            clients.crowd_run(bench, f"concurrency-https-{count}", subject, nginx.https,
                              nginx.poll_log_https, count)
    draw_concurrency(bench, counts)
    return []


def concurrency_point(bench, figure_name, who):
    """The cores and the p99 gap of a crowd, "-" and "-" where not measured."""
    if not bench.runs_of(figure_name, who):
        return "-", "-"
    p99 = bench.gaps[(figure_name, who)].quantile(0.99)
    return bench.cores(figure_name, who), seconds_text(p99)


def draw_concurrency(bench, counts):
    out = bench.settings.concurrency_out
    date = time.strftime("%Y-%m-%d", time.gmtime())
    commit, machine = describe_commit(), describe_machine()
    baseline = bench.baseline_short
    before = f", before = {baseline}" if baseline else ""
    load_after = load_average()
    lines = ["# waitfors at once against nginx on 127.0.0.1, 6 polls each;"
             f" {date}, commit {commit}{before}",
             f"# {machine}; load average before {bench.load_before}, after {load_after}",
             "# clients, then now: HTTP cores, HTTP p99 poll gap (s), HTTPS cores,"
             " HTTPS p99 gap (s); then the same before (- : not measured)"]
    table = ["| clients | HTTP now | HTTPS now | HTTP before | HTTPS before |",
             "|---|---|---|---|---|"]
    for count in counts:
        points = [concurrency_point(bench, f"concurrency-{scheme}-{count}", who)
                  for who in ("new", "old") for scheme in ("http", "https")]
        lines.append(f"{count} {' '.join(f'{cores} {p99}' for cores, p99 in points)}")
        table.append(f"| {count} | {' | '.join(f'{cores}, {p99} s' for cores, p99 in points)} |")
    with open(f"{out}.dat", "w") as dat:
        dat.write("\n".join(lines) + "\n")
    print("\nwaitfors at once: client CPU (cores) and p99 gap between polls (s)")
    print("\n".join(table))
    heading = (f"{date}, commit {commit}{f' (before: {baseline})' if baseline else ''},"
               f" {len(os.sched_getaffinity(0))} cores; load average before {bench.load_before},"
               f" after {load_after}")
    drawn = subprocess.run(
        ["gnuplot", "-e", f"data='{out}.dat'; out='{out}.png'; before={1 if baseline else 0}",
         "-e", f"heading='{heading}'", "bench/concurrency.gp"], stdin=subprocess.DEVNULL)
    if drawn.returncode != 0:
        raise BenchError("gnuplot failed")
    say(f"written: {out}.dat, {out}.png")
