#!/usr/bin/env python3
"""Initialize in echo windows of several sizes against quillon-sim paced at one baud rate, on a
line without and with a USB serial adapter's latency (quillon-sim --latency-us): the monitor
upload's time over its wire time (the monitor's bytes and its five opening bytes at 10 bits a
byte, in one direction: with a window the echoes travel while the next bytes go out), over the
lock step's time at latency 0 measured in the same run, the whole Initialize, and the CPU the
host (bench/initialize_time, the job on a JobRunner as quillon-cli runs it) and the target took
during the upload. Every cell runs RUNS times, the cells alternating within each round, and the
run with the lowest upload time stands for its cell; lock step at a latency of 10 ms or more
runs once (each run takes minutes).

  bench/echo_window.py BUILD_DIR [--baud 115200] [--runs 3] [--latencies-us 0,1000,16000]
                       [--windows 1,16,32] [--markdown]

The goal line: a window of 32 at most 1.3 times the wire time at latencies 0 and 1 ms.
"""

import argparse
import os
import pathlib
import signal
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def run_once(build, baud, latency_us, window):
    """One Initialize against a fresh target: a dict of its figures."""
    monitor = str(build / "bin" / "Targets" / "virtual-target.h86")
    args = [str(build / "bin" / "quillon-sim"), "--monitor", monitor, "--link", "none", "--baud",
            str(baud), "--ram-test-ms", "0", "--spin-us", "0"]
    if latency_us:
        args += ["--latency-us", str(latency_us)]
    sim = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
    try:
        port = sim.stdout.readline().strip()
        if not port:
            raise RuntimeError("quillon-sim printed no line path")
        out = subprocess.run([str(build / "bench" / "initialize_time"), port, monitor, str(baud),
                              str(window)], capture_output=True, text=True, check=False)
    finally:
        sim.send_signal(signal.SIGTERM)
        _, _, usage = os.wait4(sim.pid, 0)
        sim.returncode = 0
        sim.stdout.close()
    if out.returncode != 0:
        raise RuntimeError(f"latency {latency_us} us, window {window}: {out.stdout}{out.stderr}")
    fields = out.stdout.split()
    figures = {fields[i]: float(fields[i + 1]) for i in range(0, len(fields) - 1, 2)}
    # The target's CPU over its whole life; it idles before and after the job.
    figures["target-cpu"] = usage.ru_utime + usage.ru_stime
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--latencies-us", default="0,1000,16000")
    parser.add_argument("--windows", default="1,16,32")
    parser.add_argument("--markdown", action="store_true", help="print the table as Markdown")
    args = parser.parse_args()
    latencies = [int(x) for x in args.latencies_us.split(",")]
    windows = [int(x) for x in args.windows.split(",")]
    cells = [(lat, w) for lat in latencies for w in windows]
    best = {}
    for round_ in range(args.runs):
        order = cells if round_ % 2 == 0 else list(reversed(cells))
        for lat, w in order:
            if round_ > 0 and w == 1 and lat >= 10000:
                continue
            figures = run_once(args.build, args.baud, lat, w)
            print(f"round {round_ + 1}: latency {lat} us, window {w}: "
                  f"upload {figures['upload']:.3f} s", file=sys.stderr, flush=True)
            if (lat, w) not in best or figures["upload"] < best[(lat, w)]["upload"]:
                best[(lat, w)] = figures

    monitor_bytes = int(best[cells[0]]["monitor-bytes"])
    wire = (monitor_bytes + 5) * 10 / args.baud
    baseline = best.get((0, 1))
    print(f"Monitor upload of {monitor_bytes} bytes at {args.baud} baud, wire time {wire:.3f} s; "
          f"best of {args.runs} runs a cell")
    header = ["latency", "window", "upload s", "upload / wire time",
              "upload / lock step at latency 0", "Initialize s", "host CPU % during upload",
              "target CPU s"]
    rows = []
    for lat, w in cells:
        f = best[(lat, w)]
        rows.append([f"{lat / 1000:g} ms", str(w), f"{f['upload']:.3f}",
                     f"{f['upload'] / wire:.2f}",
                     f"{f['upload'] / baseline['upload']:.3f}" if baseline else "-",
                     f"{f['initialize']:.3f}", f"{100 * f['upload-cpu'] / f['upload']:.1f}",
                     f"{f['target-cpu']:.3f}"])
    if args.markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "|".join("---:" for _ in header) + "|")
        for row in rows:
            print("| " + " | ".join(row) + " |")
    else:
        print("  ".join(header))
        for row in rows:
            print("  ".join(row))
    goals = [(lat, best[(lat, 32)]["upload"] / wire) for lat in (0, 1000)
             if (lat, 32) in best]
    met = all(ratio <= 1.3 for _, ratio in goals)
    print("Goal: window 32 at most 1.3 x wire time at latencies 0 and 1 ms: " +
          ", ".join(f"{lat / 1000:g} ms {ratio:.2f}" for lat, ratio in goals) +
          ("; met" if met else "; NOT met"))


if __name__ == "__main__":
    main()
