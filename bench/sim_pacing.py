#!/usr/bin/env python3
"""Compares two quillon-sim programs paced at one baud rate: the CPU time the virtual target
spends while a host runs Initialize and Download of the sample image against it, and how close
each job comes to the wire time of the bytes that crossed the line (10 bits a byte). The host is
scripts/sim-wire-check's; the programs run one after the other, RUNS times each, alternating,
and every figure is the best of its runs.

  bench/sim_pacing.py OLD_SIM NEW_SIM [--baud 115200] [--runs 3]
"""

import argparse
import importlib.machinery
import importlib.util
import os
import pathlib
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


def load_host():
    path = ROOT / "scripts" / "sim-wire-check"
    loader = importlib.machinery.SourceFileLoader("sim_wire_check", str(path))
    found = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    return module


def measure(host, sim, baud):
    """One run: (CPU seconds of the target, wall seconds, {job: elapsed / wire time})."""
    monitor = str(ROOT / "Targets" / "virtual-target.h86")
    image = str(ROOT / "samples" / "demo.hex")
    process = subprocess.Popen([sim, "--monitor", monitor, "--link", "none", "--baud", str(baud),
                                "--ram-test-ms", "0", "--erase-ms", "0"],
                               stdout=subprocess.PIPE, text=True)
    start = time.monotonic()
    ratios = {}
    try:
        line = host.Line(process.stdout.readline().strip())
        flash_type = None
        for job in ("Initialize", "Download"):
            line.bytes, begin = 0, time.monotonic()
            if job == "Initialize":
                flash_type = host.initialize(line, monitor)
            else:
                host.download(line, image, flash_type)
            ratios[job] = (time.monotonic() - begin) / (line.bytes * 10 / baud)
        wall = time.monotonic() - start
        os.close(line.fd)
    finally:
        process.send_signal(signal.SIGTERM)
        _, _, usage = os.wait4(process.pid, 0)
        process.returncode = 0
    return usage.ru_utime + usage.ru_stime, wall, ratios


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    host = load_host()
    best = {}
    for _ in range(args.runs):
        for name, sim in (("old", args.old), ("new", args.new)):
            cpu, wall, ratios = measure(host, sim, args.baud)
            print(f"{name}: CPU {cpu:.3f} s of {wall:.3f} s ({100 * cpu / wall:.1f}%), "
                  + ", ".join(f"{job} {r:.3f} x wire time" for job, r in ratios.items()),
                  flush=True)
            figures = {"cpu": cpu / wall, **ratios}
            previous = best.setdefault(name, figures)
            for key, value in figures.items():
                previous[key] = min(previous[key], value)
    print(f"\nbaud {args.baud}, best of {args.runs} runs each")
    print(f"{'':28}{'old':>10}{'new':>10}{'new/old':>10}")
    rows = [("CPU of wall time (%)", "cpu", 100.0), ("Initialize / wire time", "Initialize", 1.0),
            ("Download / wire time", "Download", 1.0)]
    for label, key, scale in rows:
        old, new = best["old"][key] * scale, best["new"][key] * scale
        print(f"{label:28}{old:10.3f}{new:10.3f}{new / old:10.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
