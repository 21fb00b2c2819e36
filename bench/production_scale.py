#!/usr/bin/env python3
"""Measures how one quillon-cli run scales with the number of boards it flashes at once: for
each count N it starts N quillon-sim targets paced at one baud rate, flashes the sample image
into all of them with a single `quillon-cli -p P1,...,PN` run, and takes the wall time of that
run, the CPU time (user + system) of the cli and the station programs it starts, and, apart,
the CPU time of the targets. Every count runs RUNS times (the order of the counts alternates
from one repetition to the next); the run with the lowest wall time stands for its count. A run
that does not end with exit status 0 and every port "ok" stops the bench.

  bench/production_scale.py CLI SIM [--counts 1,2,4,8,16] [--baud 115200] [--runs 3]
                            [--spin-us 0] [--image PATH] [--echo-window N]

--echo-window N passes the window to quillon-cli (and so to every station); without it the
monitor travels in lock step, as by default.

The goal line checks the largest count (16 by default): wall time at most 1.2 times that of
the smallest count, and the flasher's CPU below 5 % of one core per board.
"""

import argparse
import json
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
TARGET = "Virtual Target"


def cpu_of(usage):
    return usage.ru_utime + usage.ru_stime


def start_sims(sim, count, baud, spin_us):
    """Starts COUNT targets; returns the processes and their line paths (the first stdout line)."""
    sims, ports = [], []
    for _ in range(count):
        process = subprocess.Popen([sim, "--link", "none", "--baud", str(baud),
                                    "--spin-us", str(spin_us)],
                                   stdout=subprocess.PIPE, text=True)
        sims.append(process)
        port = process.stdout.readline().strip()
        if not port:
            raise RuntimeError(f"{sim} printed no line path (exit status {process.poll()})")
        ports.append(port)
    return sims, ports


def stop_sims(sims):
    """Ends the targets (SIGTERM, then reaps each); returns their summed CPU seconds."""
    for process in sims:
        if process.returncode is None:
            process.send_signal(signal.SIGTERM)
    total = 0.0
    for process in sims:
        if process.returncode is None:
            _, status, usage = os.wait4(process.pid, 0)
            process.returncode = os.waitstatus_to_exitcode(status)
            total += cpu_of(usage)
        process.stdout.close()
    return total


def check_output(output, ports):
    """Raises unless the output says every port succeeded: one "ok" summary row a port, or the
    single-station success line when there is one port (a lone station prints no summary)."""
    if len(ports) == 1:
        if "Download finished successfully!" not in output:
            raise RuntimeError("the run reports no finished download")
        return
    results = {}
    lines = output.splitlines()
    header = [i for i, line in enumerate(lines) if line.split()[:2] == ["port", "result"]]
    if not header:
        raise RuntimeError("the run printed no summary table")
    for line in lines[header[-1] + 1:]:
        fields = line.split()
        if len(fields) >= 2:
            results[fields[0]] = fields[1]
    missing = [p for p in ports if results.get(p) != "ok"]
    if missing:
        raise RuntimeError(f"no \"ok\" summary row for {', '.join(missing)}")


def measure(cli, sim, count, baud, spin_us, image, echo_window=None):
    """One run of COUNT boards: (wall seconds, CPU seconds of the cli tree, of the targets,
    mean Initialize seconds, mean download seconds), the last two from the record."""
    sims, cli_process = [], None
    record = tempfile.NamedTemporaryFile(suffix=".jsonl", delete=False)
    record.close()
    try:
        sims, ports = start_sims(sim, count, baud, spin_us)
        command = [cli, "-p", ",".join(ports), "-b", str(baud), "-t", TARGET,
                   "--record", record.name, image]
        if echo_window is not None:
            command[1:1] = ["--echo-window", str(echo_window)]
        start = time.monotonic()
        cli_process = subprocess.Popen(command, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, text=True)
        output = cli_process.stdout.read()
        # wait4 on the cli's pid gives its own usage plus that of every child it waited for,
        # which are the station programs; the targets are reaped apart in stop_sims.
        _, status, usage = os.wait4(cli_process.pid, 0)
        wall = time.monotonic() - start
        cli_process.returncode = os.waitstatus_to_exitcode(status)
        if cli_process.returncode != 0:
            tail = "\n".join(output.splitlines()[-(count + 8):])
            raise RuntimeError(f"quillon-cli exited {cli_process.returncode} for "
                               f"{count} boards:\n{tail}")
        check_output(output, ports)
        with open(record.name, encoding="utf-8") as lines:
            boards = [json.loads(line) for line in lines]
        if len(boards) != count:
            raise RuntimeError(f"{len(boards)} record lines for {count} boards")
        init = sum(b["initSeconds"] for b in boards) / count
        download = sum(b["downloadSeconds"] for b in boards) / count
        return wall, cpu_of(usage), stop_sims(sims), init, download
    finally:
        os.unlink(record.name)
        if cli_process is not None and cli_process.returncode is None:
            cli_process.send_signal(signal.SIGTERM)
            cli_process.wait()
        if cli_process is not None:
            cli_process.stdout.close()
        stop_sims(sims)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cli")
    parser.add_argument("sim")
    parser.add_argument("--counts", default="1,2,4,8,16")
    parser.add_argument("--baud", type=int, default=115200)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--image", default=str(ROOT / "samples" / "demo.hex"))
    # The targets stand in for boards, which cost the PC nothing: sleeping to each byte's
    # moment instead of spinning before it keeps 16 of them from crowding the flasher off
    # a small machine's cores.
    parser.add_argument("--spin-us", type=int, default=0)
    parser.add_argument("--echo-window", type=int)
    args = parser.parse_args()
    counts = sorted({int(n) for n in args.counts.split(",")})
    best = {}
    began = time.monotonic()
    try:
        for run in range(args.runs):
            for count in (counts if run % 2 == 0 else counts[::-1]):
                print(f"run {run + 1}/{args.runs}: {count} board(s) at {args.baud} baud ...",
                      end=" ", file=sys.stderr, flush=True)
                result = measure(args.cli, args.sim, count, args.baud, args.spin_us, args.image,
                                 args.echo_window)
                wall, cpu, sims_cpu = result[:3]
                print(f"wall {wall:.2f} s, flasher CPU {cpu:.3f} s, targets' CPU {sims_cpu:.3f} s",
                      file=sys.stderr, flush=True)
                if count not in best or wall < best[count][0]:
                    best[count] = result
    except (RuntimeError, OSError) as error:
        print(f"\nerror: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return 130
    base = best[counts[0]][0]
    window = f"echo window {args.echo_window}, " if args.echo_window else ""
    print(f"\nbaud {args.baud}, {window}targets with --spin-us {args.spin_us}, "
          f"best (lowest wall) of {args.runs} runs per N, "
          f"{time.monotonic() - began:.0f} s in all\n")
    print(f"| N | wall s | wall / wall(N={counts[0]}) | flasher CPU s "
          f"| flasher CPU % of one core per board | targets' CPU s "
          f"| Initialize s per board | download s per board |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for count in counts:
        wall, cpu, sims_cpu, init, download = best[count]
        print(f"| {count} | {wall:.2f} | {wall / base:.3f} | {cpu:.3f} "
              f"| {100 * cpu / wall / count:.2f} | {sims_cpu:.3f} | {init:.2f} | {download:.2f} |")
    top = counts[-1]
    wall, cpu = best[top][:2]
    ratio, per_board = wall / base, 100 * cpu / wall / top
    met = ratio <= 1.2 and per_board < 5
    print(f"\ngoal at N={top}: wall ratio {ratio:.3f} (<= 1.2: {'yes' if ratio <= 1.2 else 'no'}), "
          f"flasher CPU {per_board:.2f} % per board (< 5 %: {'yes' if per_board < 5 else 'no'})"
          f" -> {'met' if met else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
