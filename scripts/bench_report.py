#!/usr/bin/env python3
"""Writes BENCHMARKS.md from the JSON results of the benchmark programs (scripts/bench-report.sh
runs them and sets BENCH_MACHINE, BENCH_DATE and BENCH_REPETITIONS).

    scripts/bench_report.py RESULTS_DIR OUTPUT.md
"""
import glob, json, os, re, sys

results_dir, output = sys.argv[1], sys.argv[2]

# id, figure, benchmark (regex on the run name), statistic, comparison, goal, unit
#   statistic: "median" (real time), "p99" (an aggregate named p99, or a counter whose name holds
#   p99 and ends in _ns/_us/_ms), "counter:NAME", or "ratio:REGEX" (median of this one over the
#   median of the benchmark matching REGEX).
GOALS = [
    ("sight line", "sight line, 0.5 degree, tiles loaded", r"^BM_SightLine", "median", "<=", 3, "us"),
    ("CalculateDBLost", "CalculateDBLost within range, tiles loaded", r"^BM_CalculateDBLost", "median", "<=", 4, "us"),
    ("tile load", "tile load / plain read of the same file", r"^BM_LoadOneTile", "ratio:^BM_PlainReadOfTheSameFile", "<=", 2, "x"),
    ("SRTM1 tile load", "SRTM1 tile load (every third sample) / plain read of the same file", r"^BM_LoadOneSrtm1Tile", "ratio:^BM_PlainReadOfTheSameSrtm1File", "<=", 2, "x"),
    ("log memory", "plug-in memory growth during a 60 s simulator flood at LOGLEVEL 6", r"^BM_PluginMemoryUnderSimulatorFlood", "counter:rss_growth_MB", "<=", 32, "MB"),
    ("log memory", "log memory growth during a 60 s flood from four threads", r"^BM_LogMemoryUnderFourThreadFlood", "counter:rss_growth_MB", "<=", 32, "MB"),
    ("voice treatment", "voice treatment of a 960-sample block (clear)", r"^BM_TreatVoiceBlock/samples:960/encrypted:0", "median", "<=", 8, "us"),
    ("voice treatment", "voice treatment of a 960-sample block (encrypted)", r"^BM_TreatVoiceBlock/samples:960/encrypted:1", "median", "<=", 15, "us"),
    ("voice callback", "voice callback, 960 samples, in range with the sight line over loaded tiles, median", r"^BM_VoiceBlock_InRangeOverTiles", "median", "<=", 12, "us"),
    ("voice callback", "voice callback, 960 samples, in range with the sight line over loaded tiles, p99", r"^BM_VoiceBlock_InRangeOverTiles", "p99", "<=", 200, "us"),
    ("voice callback", "voice callback, 960 samples, in range without tiles (sight line finds no terrain), median", r"^BM_VoiceBlock_InRangeWithoutTiles", "median", "<=", 50, "us"),
    ("voice callback", "voice callback, 960 samples, in range without tiles, p99", r"^BM_VoiceBlock_InRangeWithoutTiles", "p99", "<=", 200, "us"),
    ("idle", "idle plug-in (flying, nobody talks): wake-ups of its threads per second over 10 s", r"^BM_IdlePluginWakeUps", "counter:wakeups/s", "<=", 10, "/s"),
    ("talk event", "talk event returns, station server on loopback, p99", r"^BM_TalkEvent(/|$)", "p99", "<=", 2, "ms"),
    ("RefreshClientStatus", "RefreshClientStatus round trip, station server on loopback, p99", r"^BM_RefreshClientStatusRoundTrip", "p99", "<=", 2, "ms"),
    ("talk event", "talk event returns, station server 100 ms away, p99", r"^BM_TalkEvent_Server100MsAway", "p99", "<=", 5, "ms"),
    ("talk event", "talk event returns, station server that never answers, p99", r"^BM_TalkEvent_ServerSilent", "p99", "<=", 5, "ms"),
    ("refresh pass", "refresh period, 20 pilots, station server 100 ms away", r"^BM_RefreshPassServer100MsAway/20/", "counter:period_s", "<=", 2.3, "s"),
    ("refresh pass", "refresh period, 200 pilots, station server 100 ms away", r"^BM_RefreshPassServer100MsAway/200/", "counter:period_s", "<=", 2.6, "s"),
    ("station server", "station server GET answers per second", r"^BM_ServerGetVersusEcho", "counter:server_answers/s", ">=", 150000, "/s"),
    ("station server", "station server answers / UDP echo answers", r"^BM_ServerGetVersusEcho", "counter:server/echo", ">=", 0.8, "x"),
    ("server defences", "station server with every defence off: answers / UDP echo answers (the same run)", r"^BM_ServerGetVersusEcho", "counter:server_off/echo", ">=", 0.8, "x"),
    ("server defences", "resident memory growth after 1,000,000 new nicknames from 1,000,000 addresses", r"^BM_NicknameFlood", "counter:memory_growth_MiB", "<=", 64, "MiB"),
    ("server defences", "records held after that flood (--max-records 10000)", r"^BM_NicknameFlood", "counter:records", "<=", 10000, ""),
    ("server defences", "hijack, 100,000 SETs/s for 10 s: the pilot's record unchanged (1 = yes)", r"^BM_HijackAtFullRate", "counter:unchanged", ">=", 1, ""),
    ("server defences", "reflection: worst answer bytes per query byte", r"^BM_ReflectionFlood", "counter:answer_bytes_per_query_byte", "<=", 40, "x"),
    ("server defences", "reflection: bytes out per byte in, 10 s spoofed flood at 100,000/s", r"^BM_ReflectionFlood", "counter:flood_bytes_out_per_byte_in", "<=", 1, "x"),
]

TO_US = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
FROM_US = {"us": 1.0, "ms": 1e-3}

runs = []  # (program, run name, aggregate or "", entry)
for path in sorted(glob.glob(os.path.join(results_dir, "*.json"))):
    program = os.path.basename(path)[:-5]
    with open(path) as f:
        for entry in json.load(f).get("benchmarks", []):
            runs.append((program, entry.get("run_name", entry["name"]), entry.get("aggregate_name", ""), entry))

def instances(pattern):
    names = []
    for _, name, _, _ in runs:
        if re.search(pattern, name) and name not in names:
            names.append(name)
    return names

def entry(name, aggregate):
    for _, run_name, agg, e in runs:
        if run_name == name and agg == aggregate:
            return e
    return None

def median_us(name):
    e = entry(name, "median") or entry(name, "")
    return None if e is None else e["real_time"] * TO_US[e.get("time_unit", "ns")]

def p99_us(name):
    e = entry(name, "p99")
    if e is not None:
        return e["real_time"] * TO_US[e.get("time_unit", "ns")]
    e = entry(name, "median") or entry(name, "")
    for key, value in (e or {}).items():
        m = re.search(r"p99.*_(ns|us|ms|s)$", key)
        if m and isinstance(value, (int, float)):
            return value * TO_US[m.group(1)]
    return None

def figure(name, statistic, unit):
    if statistic == "median":
        value = median_us(name)
        return None if value is None else value * FROM_US[unit]
    if statistic == "p99":
        value = p99_us(name)
        return None if value is None else value * FROM_US[unit]
    if statistic.startswith("counter:"):
        e = entry(name, "median") or entry(name, "")
        return None if e is None else e.get(statistic.split(":", 1)[1])
    if statistic.startswith("ratio:"):
        others = instances(statistic.split(":", 1)[1])
        if not others:
            return None
        mine, theirs = median_us(name), median_us(others[0])
        return None if mine is None or not theirs else mine / theirs
    raise ValueError(statistic)

def fmt_time(value, unit):
    us = value * TO_US[unit]
    for name, scale in (("s", 1e6), ("ms", 1e3), ("us", 1.0)):
        if us >= scale:
            return "{:.3g} {}".format(us / scale, name)
    return "{:.3g} ns".format(us * 1e3)

def fmt(value, unit):
    if value is None:
        return "-"
    if unit == "/s":
        return "{:,.0f} /s".format(value)
    if unit == "x":
        return "{:.2f} x".format(value)
    return "{:.3g} {}".format(value, unit)

rows = []
for goal_id, text, pattern, statistic, comparison, goal, unit in GOALS:
    names = instances(pattern)
    if not names:
        rows.append((text, "-", "not run", "{} {}".format(comparison, fmt(goal, unit)), "-", "not run"))
        continue
    for name in names:
        value = figure(name, statistic, unit)
        if value is None:
            rows.append((text, name, "no such figure", "{} {}".format(comparison, fmt(goal, unit)), "-", "not run"))
            continue
        ratio = value / goal
        met = value <= goal if comparison == "<=" else value >= goal
        rows.append((text, name, fmt(value, unit), "{} {}".format(comparison, fmt(goal, unit)),
                     "{:.2f}".format(ratio), "met" if met else "MISSED"))

lines = [
    "# Benchmarks",
    "",
    "Written by `scripts/bench-report.sh`; do not edit by hand.",
    "",
    "- Machine: " + os.environ.get("BENCH_MACHINE", "?"),
    "- Date: " + os.environ.get("BENCH_DATE", "?"),
    "- Command: `scripts/bench-report.sh` (Release build, `cmake --preset bench`; every "
    "`build/bench/bin/*_bench` with `--benchmark_repetitions={} --benchmark_format=json`)".format(
        os.environ.get("BENCH_REPETITIONS", "?")),
    "- Figures are medians of the repetitions (real time). Ratio = figure / goal: at most 1 meets a "
    "`<=` goal, at least 1 meets a `>=` goal.",
    "",
    "## Goals",
    "",
    "| figure | benchmark | measured | goal | ratio | status |",
    "|---|---|---|---|---|---|",
]
lines += ["| {} | `{}` | {} | {} | {} | {} |".format(*row) if row[1] != "-" else "| {} | {} | {} | {} | {} | {} |".format(*row) for row in rows]
lines += ["", "## Every figure", "", "| program | benchmark | median real time | median CPU time | counters |", "|---|---|---|---|---|"]
for program, name, aggregate, e in runs:
    if aggregate not in ("median", ""):
        continue
    if aggregate == "" and entry(name, "median") is not None:
        continue
    unit = e.get("time_unit", "ns")
    counters = []
    for key, value in e.items():
        if key in ("name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
                   "real_time", "cpu_time", "time_unit", "aggregate_name", "aggregate_unit", "family_index",
                   "per_family_instance_index", "error_occurred", "error_message", "label"):
            continue
        if isinstance(value, (int, float)):
            counters.append("{} {:.4g}".format(key, value))
    lines.append("| {} | `{}` | {} | {} | {} |".format(
        program, name, fmt_time(e["real_time"], unit), fmt_time(e["cpu_time"], unit), ", ".join(counters) or "-"))
lines.append("")
with open(output, "w") as f:
    f.write("\n".join(lines))
print("wrote " + output)
