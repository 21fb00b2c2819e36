#!/usr/bin/env python3
"""Programming and Initialize through a network port against the same paced virtual target.

Runs quillon-cli against quillon-sim --baud RATE directly on its pseudo-terminal and through
ser2net on loopback (rfc2217://127.0.0.1:PORT, each byte sent at once), alternating, ROUNDS
times each, and prints the Initialize time and the programming efficiency of both: the wire
limit of the programming blocks (blocks x (141 + 7) bytes at 10 bits a byte) over the
download's time from the record file (which also holds the erase and the finalize, the same
for both paths).

    bench/network_wire.py BUILD_DIR [--rounds N] [--image-kib N] [--baud RATE]
"""
import argparse
import json
import os
import socket
import subprocess
import sys
import tempfile
import time


def hex_image(path, size):
    with open(path, "w") as out:
        upper = -1
        for at in range(0, size, 16):
            if at >> 16 != upper:
                upper = at >> 16
                rec = [2, 0, 0, 4, upper >> 8, upper & 0xFF]
                out.write(":" + "".join("%02X" % b for b in rec) +
                          "%02X\n" % (-sum(rec) & 0xFF))
            data = [(at + i) * 7 & 0xFF for i in range(16)]
            rec = [16, (at >> 8) & 0xFF, at & 0xFF, 0] + data
            out.write(":" + "".join("%02X" % b for b in rec) + "%02X\n" % (-sum(rec) & 0xFF))
        out.write(":00000001FF\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port):
    deadline = time.time() + 10
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), 1).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit("network_wire: ser2net did not listen")


def run(build, work, baud, image, network):
    sim = subprocess.Popen([os.path.join(build, "bin", "quillon-sim"), "--link", "none",
                            "--baud", str(baud), "--ram-test-ms", "0", "--erase-ms", "1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    device = sim.stdout.readline().strip()
    server = None
    port = device
    try:
        if network:
            tcp = free_port()
            config = os.path.join(work, "ser2net.yaml")
            with open(config, "w") as out:
                out.write("connection: &bench\n"
                          "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,%d\n"
                          "  connector: serialdev,%s,9600n81,local\n"
                          "  options:\n    chardelay: false\n" % (tcp, device))
            server = subprocess.Popen(["ser2net", "-n", "-u", "-c", config, "-P",
                                       os.path.join(work, "ser2net.pid")],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_listening(tcp)
            port = "rfc2217://127.0.0.1:%d" % tcp
        record = os.path.join(work, "record.jsonl")
        if os.path.exists(record):
            os.remove(record)
        result = subprocess.run([os.path.join(build, "bin", "quillon-cli"), "-p", port, "-b",
                                 str(baud), "-t", "Virtual Target", "--record", record, image],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            sys.exit("network_wire: quillon-cli failed: " + result.stderr)
        with open(record) as lines:
            line = json.loads(lines.readline())
        return line["initSeconds"], line["downloadSeconds"]
    finally:
        if server:
            server.terminate()
            server.wait()
        sim.terminate()
        sim.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--image-kib", type=int, default=256)
    parser.add_argument("--baud", type=int, default=115200)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        image = os.path.join(work, "image.hex")
        hex_image(image, args.image_kib * 1024)
        blocks = args.image_kib * 1024 // 128
        wire = blocks * (141 + 7) * 10 / args.baud
        results = {False: [], True: []}
        for _ in range(args.rounds):
            for network in (False, True):
                results[network].append(run(args.build, work, args.baud, image, network))
        print("%d baud, %d KiB image, %d rounds each; programming wire limit %.2f s"
              % (args.baud, args.image_kib, args.rounds, wire))
        for network in (False, True):
            init = min(r[0] for r in results[network])
            download = min(r[1] for r in results[network])
            print("  %-28s Initialize %6.2f s   download %6.2f s   programming %5.1f%% of "
                  "the wire limit" % ("through ser2net (rfc2217://)" if network
                                      else "pseudo-terminal directly", init, download,
                                      100 * wire / download))
        local = wire / min(r[1] for r in results[False])
        net = wire / min(r[1] for r in results[True])
        print("  difference: %.1f points" % (100 * (local - net)))


if __name__ == "__main__":
    main()
