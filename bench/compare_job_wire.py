#!/usr/bin/env python3
"""Programming efficiency of two builds' job_wire against the same paced virtual target.

    bench/compare_job_wire.py BASELINE_BUILD BUILD [--rounds N] [--baud B] [--image-bytes N]

Runs BASELINE_BUILD/bench/job_wire and BUILD/bench/job_wire alternately, N rounds each (default
3), both against BUILD/bin/quillon-sim, so that only the host side differs. Prints each run's
monitor upload and programming share of the wire limit, the best of each build and the
difference in points (BUILD minus BASELINE_BUILD).
"""
import argparse
import os
import re
import subprocess
import sys
from pathlib import Path

LINE = re.compile(r"^\s+(monitor upload|programming)\s+wire limit\s+([\d.]+) s, measured\s+([\d.]+) s:"
                  r"\s+([\d.]+)% of the wire limit, CPU\s+([\d.]+)% of wall time")


def run_once(build, sim, baud, image_bytes):
    out = subprocess.run([str(Path(build) / "bench" / "job_wire"), str(sim), "--image-bytes",
                          str(image_bytes), str(baud)], capture_output=True, text=True, check=False)
    figures = {}
    for line in out.stdout.splitlines():
        m = LINE.match(line)
        if m:
            figures[m.group(1)] = {"wire": float(m.group(2)), "measured": float(m.group(3)),
                                   "share": float(m.group(4)), "cpu": float(m.group(5))}
    if out.returncode != 0 or "programming" not in figures:
        sys.exit(f"job_wire of {build} failed:\n{out.stdout}{out.stderr}")
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("baseline")
    parser.add_argument("build")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--image-bytes", type=int, default=256 * 1024)
    args = parser.parse_args()
    sim = Path(args.build) / "bin" / "quillon-sim"
    names = {args.baseline: "baseline", args.build: "build"}
    results = {args.baseline: [], args.build: []}
    print("load average at the start: %.2f %.2f %.2f" % os.getloadavg(), flush=True)
    for r in range(args.rounds):
        for build in (args.baseline, args.build):
            f = run_once(build, sim, args.baud, args.image_bytes)
            results[build].append(f)
            p, u = f["programming"], f["monitor upload"]
            print(f"round {r + 1} {names[build]:8} programming {p['measured']:.2f} s of "
                  f"{p['wire']:.2f} s: {p['share']:.1f}% (CPU {p['cpu']:.1f}%), monitor upload "
                  f"{u['share']:.1f}%", flush=True)
    best = {b: max(f["programming"]["share"] for f in results[b]) for b in results}
    mean = {b: sum(f["programming"]["share"] for f in results[b]) / len(results[b]) for b in results}
    for b in results:
        print(f"{names[b]:8} ({b}): programming best {best[b]:.1f}%, mean {mean[b]:.2f}% "
              f"of the wire limit at {args.baud} baud")
    print(f"difference (build - baseline): best {best[args.build] - best[args.baseline]:+.1f} "
          f"points, mean {mean[args.build] - mean[args.baseline]:+.2f} points")


if __name__ == "__main__":
    main()
