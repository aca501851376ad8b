#!/usr/bin/env python3
"""Reads the JSON files of one bench.sh round and prints one table: measure, ratio, goal.

Every ratio compares the agent with its peer measured in the same round, so the load of
a shared machine falls on both sides alike."""
import json
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


def main(folder):
    log = load(folder, "log_writer")
    transport = load(folder, "transport")
    packing = load(folder, "packing")
    posting = load(folder, "posting")
    wine = load(folder, "posting_wine")
    memory = json.loads((Path(folder) / "packing_memory.json").read_text()) \
        if (Path(folder) / "packing_memory.json").exists() else {}

    side = "BM_Small_SideBySide/iterations:2000/real_time"
    small = "BM_Small_{}/iterations:2000/real_time"
    large = "BM_Large_{}/iterations:3/real_time"
    run = "BM_Run_SideBySide/in_memory:{}/iterations:7/real_time"
    rows = [
        ("whole run, 1,000 files vs curl loop, folder in memory",
         field(posting, run.format(1), "agent_vs_curl"), ">= 0.5"),
        ("whole run, 1,000 files vs curl loop, folder on disk",
         field(posting, run.format(0), "agent_vs_curl"), ">= 0.5"),
        ("SendPOST, 2 KB posts vs curl", field(transport, side, "wininet_vs_curl"), ">= 0.8"),
        ("SendWinHTTPPOST, 2 KB posts vs curl", field(transport, side, "winhttp_vs_curl"), ">= 0.8"),
        ("SendPOST, 2 KB posts vs curl, each peer's 2,000 in a row",
         ratio(field(transport, small.format("SendPOST"), "items_per_second"),
               field(transport, small.format("Curl"), "items_per_second")), "-"),
        ("SendWinHTTPPOST, 2 KB posts vs curl, each peer's 2,000 in a row",
         ratio(field(transport, small.format("SendWinHTTPPOST"), "items_per_second"),
               field(transport, small.format("Curl"), "items_per_second")), "-"),
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
         field(wine, "BM_WrappedRun_SideBySide/in_memory:0/iterations:2/real_time", "agent_vs_curl"), "-"),
    ]
    print(f"{'measure':<62} {'ratio':>8}  goal")
    for name, value, goal in rows:
        shown = "n/a" if value is None else f"{value:.3f}" if value < 0.1 else f"{value:.2f}"
        print(f"{name:<62} {shown:>8}  {goal}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
