#!/usr/bin/env python3
"""Measures the production line in the Qt production window against quillon-cli's on the same
boards: N quillon-sim targets paced at one baud rate, the sample image flashed into all of them
once by `quillon-cli -p P1,...,PN` (the baseline) and once by the window (bench/production_window,
on Qt's offscreen platform), each with fresh targets, the two in alternating order, RUNS times.

  bench/production_window.py BUILD_DIR [--stations 8] [--baud 115200] [--runs 3]
                             [--spin-us 0] [--image PATH]

For each run it takes the run's time (the window: from the click on Start to the run's end as
the window takes it; quillon-cli: from its start to its exit), the CPU time of the program's
own process (the window: over its run; quillon-cli: over its life; the station programs,
processes of their own, are not counted in either), the GUI thread's CPU time, and the longest
gap between the ticks of a probe timer on the window's GUI thread, with the GUI thread's time
on a core and its time waiting for one in that gap (a gap it spent working is the window's
stall, one it spent waiting for a core is the machine's). Each figure is the best (the
lowest) of the runs, a share of a core taken per run; the stall's figures are those of the
run with the shortest longest gap, and of the run with the longest too. A run that does not
end with every board "ok" in its record stops the bench.

The goal line: the window's CPU below 5 % of a core, its longest stall below 50 ms, its run's
time within 5 % of quillon-cli's.
"""

import argparse
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import production_scale  # noqa: E402  (the targets, started and stopped as that bench does)

ROOT = pathlib.Path(__file__).resolve().parent.parent
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")

GOAL_CPU = 5.0  # % of a core
GOAL_STALL_MS = 50.0
GOAL_TIME = 1.05  # the window's run time over quillon-cli's

WINDOW_FIGURES = {
    "seconds": r"^run ([\d.]+) s$",
    "cpu": r"^window CPU ([\d.]+) s",
    "gui cpu": r"; GUI thread ([\d.]+) s$",
    "start ms": r"^Start ([\d.]+) ms",
    "start work ms": r"^Start [\d.]+ ms, the GUI thread working ([\d.]+) ms",
    "start wait ms": r"^Start .* waiting for a core ([\d.]+) ms",
    "gap ms": r"^longest gap between probe ticks ([\d.]+) ms",
    "gap work ms": r"^longest gap between .* the GUI thread working ([\d.]+) ms",
    "gap wait ms": r"^longest gap between .* waiting for a core ([\d.]+) ms",
    "work ms": r"^longest work between probe ticks ([\d.]+) ms$",
    "probe percent": r"^probe alone ([\d.]+)% of a core$",
    "events": r"^GUI thread took (\d+) run events",
    "repaints": r", (\d+) repaints$",
}


# The longest gap between the probe's ticks, the GUI thread's work and its wait for a core in
# it, and its longest work between two ticks.
STALL_FIGURES = ("gap ms", "gap work ms", "gap wait ms", "work ms")


def blocked(figures):
    """What of the longest gap the GUI thread neither worked nor waited for a core."""
    return max(0.0, figures["gap ms"] - figures["gap work ms"] - figures["gap wait ms"])


def own_cpu_at_exit(process):
    """Waits for `process` to end and returns its own CPU seconds (user + system, its children
    not counted), read while it is a zombie, before it is reaped."""
    os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOWAIT)
    with open("/proc/%d/stat" % process.pid, encoding="ascii") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / TICKS_PER_SECOND
    process.wait()
    return cpu


def check_record(path, count):
    with open(path, encoding="utf-8") as lines:
        boards = [json.loads(line) for line in lines]
    results = [b.get("result") for b in boards]
    if len(boards) != count or results != ["ok"] * count:
        raise RuntimeError("the record holds %s for %d boards" % (results, count))
    return {"init": sum(b["initSeconds"] for b in boards) / count,
            "download": sum(b["downloadSeconds"] for b in boards) / count}


def run_cli(build, ports, baud, image, record):
    cli = str(build / "bin" / "quillon-cli")
    command = [cli, "-p", ",".join(ports), "-b", str(baud), "-t", production_scale.TARGET,
               "--record", record, image]
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True)
    output = process.stdout.read()
    cpu = own_cpu_at_exit(process)
    seconds = time.monotonic() - start
    process.stdout.close()
    if process.returncode != 0:
        raise RuntimeError("quillon-cli exited %d:\n%s" % (process.returncode,
                                                          "\n".join(output.splitlines()[-12:])))
    production_scale.check_output(output, ports)
    return {"seconds": seconds, "cpu": cpu, "cpu percent": 100 * cpu / seconds}


def run_window(build, ports, baud, image, record):
    command = [str(build / "bench" / "production_window"), str(build / "bin"), image, record,
               str(baud)] + ports
    result = subprocess.run(command, capture_output=True, text=True,
                            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    if result.returncode != 0:
        raise RuntimeError("production_window exited %d:\n%s%s" %
                           (result.returncode, result.stdout, result.stderr))
    figures = {}
    for key, pattern in WINDOW_FIGURES.items():
        m = re.search(pattern, result.stdout, re.M)
        if not m:
            raise RuntimeError("no %s in production_window's output:\n%s" % (key, result.stdout))
        figures[key] = float(m.group(1))
    figures["cpu percent"] = 100 * figures["cpu"] / figures["seconds"]
    figures["gui percent"] = 100 * figures["gui cpu"] / figures["seconds"]
    return figures


def measure(which, build, count, baud, spin_us, image):
    sims = []
    record = tempfile.NamedTemporaryFile(suffix=".jsonl", delete=False)
    record.close()
    try:
        sims, ports = production_scale.start_sims(str(build / "bin" / "quillon-sim"), count, baud,
                                                  spin_us)
        figures = (run_cli if which == "cli" else run_window)(build, ports, baud, image,
                                                              record.name)
        figures.update(check_record(record.name, count))
        return figures
    finally:
        os.unlink(record.name)
        production_scale.stop_sims(sims)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--stations", type=int, default=8)
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--spin-us", type=int, default=0)
    parser.add_argument("--image", default=str(ROOT / "samples" / "demo.hex"))
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    began = time.monotonic()
    load = "%.2f %.2f %.2f" % os.getloadavg()
    best = {"cli": {}, "window": {}}
    stalls = []  # the window's runs' stall figures
    try:
        for run in range(args.runs):
            for which in (("cli", "window") if run % 2 == 0 else ("window", "cli")):
                print("run %d/%d: %s, %d boards at %d baud ..." %
                      (run + 1, args.runs, which, args.stations, args.baud), end=" ",
                      file=sys.stderr, flush=True)
                figures = measure(which, build, args.stations, args.baud, args.spin_us,
                                  args.image)
                print(", ".join("%s %g" % item for item in figures.items()), file=sys.stderr,
                      flush=True)
                for key, value in figures.items():
                    best[which][key] = min(value, best[which].get(key, value))
                if which == "window":
                    stalls.append({key: figures[key] for key in STALL_FIGURES})
    except (RuntimeError, OSError) as error:
        print("\nerror: %s" % error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return 130

    cli, window = best["cli"], best["window"]
    # A gap and the work in it belong together: the stall's figures are those of one run.
    stalls.sort(key=lambda figures: figures["gap ms"])
    window.update(stalls[0])
    worst = stalls[-1]
    cpu, gui, cli_cpu = window["cpu percent"], window["gui percent"], cli["cpu percent"]
    ratio = window["seconds"] / cli["seconds"]
    print("%d stations at %d baud, targets with --spin-us %d, best (lowest) of %d runs each, "
          "load average at the start %s, %.0f s in all" %
          (args.stations, args.baud, args.spin_us, args.runs, load, time.monotonic() - began))
    print("")
    print("| measure | window | quillon-cli | ratio | goal | met |")
    print("|---|---:|---:|---:|---|---|")
    print("| run time | %.2f s | %.2f s | %.3f | within 5%% of quillon-cli's | %s |" %
          (window["seconds"], cli["seconds"], ratio, "yes" if ratio <= GOAL_TIME else "**no**"))
    print("| Initialize, mean per board (from the record) | %.2f s | %.2f s | %.3f | | |" %
          (window["init"], cli["init"], window["init"] / cli["init"]))
    print("| download, mean per board (from the record) | %.2f s | %.2f s | %.3f | | |" %
          (window["download"], cli["download"], window["download"] / cli["download"]))
    print("| CPU of the program's own process | %.2f%% of a core | %.2f%% of a core | %.2f | "
          "below %.0f%% of a core | %s |" % (cpu, cli_cpu, cpu / max(cli_cpu, 0.01), GOAL_CPU,
                                              "yes" if cpu < GOAL_CPU else "**no**"))
    print("| of it the GUI thread | %.2f%% of a core | | | | |" % gui)
    print("| the probe timer alone, idle window | %.2f%% of a core | | | | |" %
          window["probe percent"])
    print("| GUI thread's longest stall: longest gap between probe ticks | %.1f ms | | | "
          "below %.0f ms | %s |" % (window["gap ms"], GOAL_STALL_MS,
                                   "yes" if window["gap ms"] < GOAL_STALL_MS else "**no**"))
    print("| in that gap the GUI thread worked / waited for a core / slept or was blocked | "
          "%.1f ms / %.1f ms / %.1f ms | | | | |" %
          (window["gap work ms"], window["gap wait ms"], blocked(window)))
    print("| longest work of the GUI thread between two ticks | %.1f ms | | | below %.0f ms | "
          "%s |" % (window["work ms"], GOAL_STALL_MS,
                    "yes" if window["work ms"] < GOAL_STALL_MS else "**no**"))
    print("| the same in the run with the longest gap: the gap, the GUI thread's work, wait for "
          "a core and sleep in it; its longest work | %.1f ms: %.1f ms / %.1f ms / %.1f ms; "
          "%.1f ms | | | | |" % (worst["gap ms"], worst["gap work ms"], worst["gap wait ms"],
                                 blocked(worst), worst["work ms"]))
    print("| Start: its click to the next tick (the run prepared, the tiles made, laid out and "
          "painted); the GUI thread worked / waited for a core | %.1f ms; %.1f ms / %.1f ms | | "
          "| | |" % (window["start ms"], window["start work ms"], window["start wait ms"]))
    print("| the run's events the GUI thread took / its repaints | %d / %d | | | | |" %
          (window["events"], window["repaints"]))
    print("")
    met = (cpu < GOAL_CPU and window["gap ms"] < GOAL_STALL_MS and ratio <= GOAL_TIME)
    print("goal CPU %.2f%% of a core (< %.0f%%: %s), longest stall %.1f ms (< %.0f ms: %s), run "
          "time %.3f of quillon-cli's (<= %.2f: %s) -> %s" %
          (cpu, GOAL_CPU, "yes" if cpu < GOAL_CPU else "no", window["gap ms"], GOAL_STALL_MS,
           "yes" if window["gap ms"] < GOAL_STALL_MS else "no", ratio, GOAL_TIME,
           "yes" if ratio <= GOAL_TIME else "no", "met" if met else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
