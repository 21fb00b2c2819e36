"""Shared helpers of make-monitor and make-sample: readable descriptions in, Intel HEX out.

A description is an INI file. Byte content is given as `text` (placed first, UTF-8) and
`seed` (the rest: pseudo-random bytes in which every run of 256 is a permutation of all byte
values, so a line that alters any byte value is caught). The HEX output uses extended linear
address records (type 04), 16 data bytes a record, and ends with the end record.
"""

import argparse
import configparser
import pathlib
import sys


class DescriptionError(Exception):
    pass


def read_description(path):
    parser = configparser.ConfigParser(inline_comment_prefixes=("#", ";"), interpolation=None)
    try:
        with open(path, encoding="utf-8") as handle:
            parser.read_file(handle)
    except (OSError, configparser.Error) as error:
        raise DescriptionError(f"{path}: {error}") from error
    return parser


def number(section, key, low, high, default=None):
    if key not in section:
        if default is None:
            raise DescriptionError(f"[{section.name}] needs {key}")
        return default
    text = section[key]
    try:
        value = int(text, 0)
    except ValueError as error:
        raise DescriptionError(f"[{section.name}] {key} = {text} is not a number") from error
    if not low <= value <= high:
        raise DescriptionError(f"[{section.name}] {key} = {text} lies outside {low}..{high}")
    return value


def pattern(length, seed):
    """`length` bytes: each run of 256 is a permutation of 0..255, shuffled by xorshift32."""
    state = (seed * 2654435761 + 1) & 0xFFFFFFFF or 1
    out = bytearray()
    while len(out) < length:
        values = list(range(256))
        for i in range(255, 0, -1):
            state ^= (state << 13) & 0xFFFFFFFF
            state ^= state >> 17
            state ^= (state << 5) & 0xFFFFFFFF
            j = state % (i + 1)
            values[i], values[j] = values[j], values[i]
        out.extend(values)
    return bytes(out[:length])


def content(section, length):
    text = section.get("text", "").encode("utf-8")
    if len(text) > length:
        raise DescriptionError(f"[{section.name}] text is longer than {length} bytes")
    seed = number(section, "seed", 0, 0xFFFFFFFF, 0)
    return text + pattern(length - len(text), seed)


def _record(kind, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper() + "\n"


def hex_text(regions):
    """Intel HEX text for `regions`: a list of (address, bytes) that must not overlap."""
    placed = sorted(regions)
    for (a, da), (b, _) in zip(placed, placed[1:]):
        if a + len(da) > b:
            raise DescriptionError(f"regions at 0x{a:06X} and 0x{b:06X} overlap")
    lines = []
    upper = None
    for address, data in placed:
        if address + len(data) > 0x1000000:
            raise DescriptionError(f"region at 0x{address:06X} runs past 16 MB")
        at = 0
        while at < len(data):
            here = address + at
            if here >> 16 != upper:
                upper = here >> 16
                lines.append(_record(0x04, 0, bytes([upper >> 8, upper & 0xFF])))
            # A record never crosses a 64 KB boundary.
            count = min(16, len(data) - at, 0x10000 - (here & 0xFFFF))
            lines.append(_record(0x00, here & 0xFFFF, data[at:at + count]))
            at += count
    lines.append(_record(0x01, 0, b""))
    return "".join(lines)


def main(description_to_regions, suffix, summary):
    parser = argparse.ArgumentParser(description=summary)
    parser.add_argument("description", help="the readable description (INI)")
    parser.add_argument("-o", "--output", help=f"output file (default: the description's name with {suffix})")
    parser.add_argument("--check", action="store_true",
                        help="only check that the output file is what the description gives")
    args = parser.parse_args()
    output = pathlib.Path(args.output or pathlib.Path(args.description).with_suffix(suffix))
    try:
        text = hex_text(description_to_regions(read_description(args.description)))
    except DescriptionError as error:
        print(f"{parser.prog}: {error}", file=sys.stderr)
        return 1
    if args.check:
        current = output.read_text(encoding="ascii") if output.exists() else None
        if current != text:
            print(f"{parser.prog}: {output} is not what {args.description} describes; "
                  f"run {parser.prog} {args.description}", file=sys.stderr)
            return 1
        return 0
    output.write_text(text, encoding="ascii")
    return 0


def read_hex(path):
    """The data bytes of an Intel HEX file as {address: byte} (types 00, 01, 02, 04)."""
    memory, base = {}, 0
    with open(path, encoding="ascii") as handle:
        for line in handle:
            line = line.strip()
            if not line:
                continue
            record = bytes.fromhex(line[1:])
            count, offset, kind = record[0], record[1] << 8 | record[2], record[3]
            data = record[4:4 + count]
            if kind == 0x00:
                for i, value in enumerate(data):
                    memory[base + offset + i] = value
            elif kind == 0x01:
                break
            elif kind in (0x02, 0x04):
                base = (data[0] << 8 | data[1]) << (4 if kind == 0x02 else 16)
    return memory
