#!/usr/bin/env python3
"""Reads the JSON files of bench.sh rounds and prints one table: measure, ratio, goal.
With several round folders, each ratio is the median of the rounds, with their spread
(lowest and highest) and each round's load.

Every ratio compares the agent with its peer measured in the same round, so the load of
a shared machine falls on both sides alike."""
import json
import statistics
import sys
from pathlib import Path


def load(folder, name):
    path = Path(folder) / f"{name}.json"
    if not path.exists():
        return {}
    try:
        runs = json.loads(path.read_text()).get("benchmarks", [])
    except json.JSONDecodeError:  # a round that was cut short
        return {}
    return {run["name"]: run for run in runs if run.get("run_type", "iteration") == "iteration"}


def field(runs, name, key):
    run = runs.get(name)
    return None if run is None or run.get("error_occurred") else run.get(key)


def megabytes(kilobytes):
    return None if kilobytes is None else kilobytes / 1024


def ratio(top, bottom):
    return None if top is None or not bottom else top / bottom


def read_json(folder, name):
    path = Path(folder) / name
    return json.loads(path.read_text()) if path.exists() else {}


def rows_of(folder):
    log = load(folder, "log_writer")
    transport = load(folder, "transport")
    packing = load(folder, "packing")
    posting = load(folder, "posting")
    wine = load(folder, "posting_wine")
    memory = read_json(folder, "packing_memory.json")
    syscalls = read_json(folder, "syscalls.json")

    side = "BM_Small_SideBySide/iterations:2000/real_time"
    small = "BM_Small_{}/iterations:2000/real_time"
    large = "BM_Large_{}/iterations:3/real_time"
    run = "BM_Run_SideBySide/where:{}/new_prefix:{}/iterations:3/real_time"
    whole = []
    for where, place in ((0, "in memory"), (1, "journaled disk"), (2, "root disk")):
        information = where == 2
        for new_prefix, prefixes in ((1, "a prefix per file"), (0, "one prefix")):
            case = f"{place}, {prefixes}" + (" (information)" if information else "")
            name = run.format(where, new_prefix)
            whole += [
                (f"whole run vs mandated-work peer, {case}", field(posting, name, "agent_vs_peer"),
                 "-" if information else ">= 0.9"),
                (f"whole run vs curl loop, {case}", field(posting, name, "agent_vs_curl"),
                 ">= 0.65" if where == 0 else "-"),
                (f"peer vs curl loop, {case}", field(posting, name, "peer_vs_curl"), "-"),
            ]
    refused = [field(posting, run.format(w, p), "refused_rounds") for w in range(3) for p in (0, 1)]
    return whole + [
        ("whole runs: rounds refused and repeated (a run posted nothing)",
         sum(r for r in refused if r is not None), "-"),
        ("system calls per file, a prefix per file (information)",
         syscalls.get("new_prefix"), "-"),
        ("system calls per file, one prefix (information)", syscalls.get("one_prefix"), "-"),
        ("mandated-work peer: system calls per file, a prefix per file",
         syscalls.get("peer_new_prefix"), "-"),
        ("mandated-work peer: system calls per file, one prefix", syscalls.get("peer_one_prefix"), "-"),
        ("SendPOST, 2 KB posts vs curl", field(transport, side, "wininet_vs_curl"), ">= 0.85"),
        ("SendWinHTTPPOST, 2 KB posts vs curl", field(transport, side, "winhttp_vs_curl"), ">= 0.85"),
        ("SendPOST, 2 KB posts vs curl, each peer's 2,000 in a row",
         ratio(field(transport, small.format("SendPOST"), "items_per_second"),
               field(transport, small.format("Curl"), "items_per_second")), ">= 0.85"),
        ("SendWinHTTPPOST, 2 KB posts vs curl, each peer's 2,000 in a row",
         ratio(field(transport, small.format("SendWinHTTPPOST"), "items_per_second"),
               field(transport, small.format("Curl"), "items_per_second")), ">= 0.85"),
        ("SendPOST, connections per post (information)",
         field(transport, small.format("SendPOST"), "connections_per_post"), "-"),
        ("SendPOST, 200 MB body vs curl", ratio(field(transport, large.format("SendPOST"), "bytes_per_second"),
                                                field(transport, large.format("Curl"), "bytes_per_second")), ">= 0.8"),
        ("SendWinHTTPPOST, 200 MB body vs curl",
         ratio(field(transport, large.format("SendWinHTTPPOST"), "bytes_per_second"),
               field(transport, large.format("Curl"), "bytes_per_second")), ">= 0.8"),
        ("SendPOST, 200 MB body, memory growth MB",
         megabytes(field(transport, large.format("SendPOST"), "rss_growth_KB")), "< 2"),
        ("SendWinHTTPPOST, 200 MB body, memory growth MB",
         megabytes(field(transport, large.format("SendWinHTTPPOST"), "rss_growth_KB")), "< 2"),
        ("PackXmlFile vs raw DEFLATE of its text",
         ratio(field(packing, "BM_PackXmlFile", "bytes_per_second"),
               field(packing, "BM_RawDeflateOfSerializedText", "bytes_per_second")), ">= 0.8"),
        ("peak memory packing a 300 MB file, x file size",
         ratio(memory.get("peak_bytes"), memory.get("file_bytes")), "<= 2"),
        ("WriteLogEntry vs bare open-append-close",
         ratio(field(log, "BM_WriteLogEntry", "items_per_second"),
               field(log, "BM_BareOpenAppendClose", "items_per_second")), ">= 0.7"),
        ("Windows build under wine, files/s vs curl loop (information)",
         field(wine, "BM_WrappedRun_SideBySide/where:2/new_prefix:1/iterations:2/real_time",
               "agent_vs_curl"), "-"),
    ]


def shown(value):
    if value is None:
        return "n/a"
    if float(value).is_integer() and value >= 1 or value == 0:
        return str(int(value))
    return f"{value:.3f}" if value < 0.1 else f"{value:.2f}" if value < 10 else f"{value:.0f}"


def main(folders):
    rounds = [rows_of(folder) for folder in folders]
    loads = [", ".join((Path(folder) / "load.txt").read_text().split("\n")).strip(", ")
             if (Path(folder) / "load.txt").exists() else "?" for folder in folders]
    many = len(rounds) > 1
    print(f"{'measure':<78} {'median' if many else 'ratio':>8}  {'spread' if many else '':<11} goal")
    for index, (name, _, goal) in enumerate(rounds[0]):
        values = [r[index][1] for r in rounds if r[index][1] is not None]
        middle = statistics.median(values) if values else None
        spread = f"{shown(min(values))}-{shown(max(values))}" if many and values else ""
        print(f"{name:<78} {shown(middle):>8}  {spread:<11} {goal}")
    print("load average (1, 5, 15 min) at the start and end of each round:")
    for number, load in enumerate(loads, 1):
        print(f"  round {number}: {load}")


if __name__ == "__main__":
    main(sys.argv[1:] or ["."])
