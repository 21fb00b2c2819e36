#!/usr/bin/env bash
# Times Quillon's HEX reader against objcopy and srec_cat on one generated file holding 16 MB
# of data (256 segments behind type 04 records, 32-byte data records, about 40 MB of text).
# Each tool runs as a whole process, best of RUNS rounds (the tools take turns in each); the
# ratios are tool time / Quillon time.
#   bench/compare_hex.sh [BUILD_DIR]      (default: build/default)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/default}
runs=${RUNS:-5}
loader=$build/bench/hex_load
[ -x "$loader" ] || { echo "missing $loader: build first (cmake --build --preset default)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hex=$work/full16mb.hex

python3 - "$hex" <<'PY'
import sys
out = []
for seg in range(256):
    rec = bytes([2, 0, 0, 4, seg >> 8, seg & 0xFF])
    out.append(":%s%02X\n" % (rec.hex().upper(), (-sum(rec)) & 0xFF))
    for off in range(0, 0x10000, 32):
        data = bytes(((seg * 131 + off + i * 7) & 0xFF) for i in range(32))
        head = bytes([32, off >> 8, off & 0xFF, 0])
        out.append(":%s%s%02X\n" % (head.hex().upper(), data.hex().upper(),
                                    (-(sum(head) + sum(data))) & 0xFF))
out.append(":00000001FF\n")
with open(sys.argv[1], "w") as f:
    f.write("".join(out))
PY

# The shell's own clock (bash 5): no clock process of its own counts in a tool's time.
now_us() { local t=$EPOCHREALTIME; echo "${t/[.,]/}"; }
# time_ms CMD...: runs CMD once and prints its wall time in milliseconds.
time_ms() {
  local t0 t1
  t0=$(now_us)
  "$@" >/dev/null 2>&1
  t1=$(now_us)
  echo $(( (t1 - t0) / 1000 ))
}

size=$(stat -c %s "$hex")
"$loader" "$hex" >/dev/null || { echo "hex_load failed on the generated file" >&2; exit 1; }
echo "file: $((size / 1000000)) MB of HEX text, 16 MiB of data; best of $runs runs each"

# The tools take turns, round after round, so that a load on the machine meets all of them
# alike; each keeps its best round.
tools=(quillon)
for tool in objcopy srec_cat; do
  if command -v "$tool" >/dev/null; then tools+=("$tool"); fi
done
declare -A best
for _ in $(seq "$runs"); do
  for tool in "${tools[@]}"; do
    case $tool in
      quillon) t=$(time_ms "$loader" "$hex") ;;
      objcopy) t=$(time_ms objcopy -I ihex -O binary "$hex" "$work/out.bin") ;;
      srec_cat) t=$(time_ms srec_cat "$hex" -Intel -o "$work/out.bin" -Binary) ;;
    esac
    if [ -z "${best[$tool]:-}" ] || [ "$t" -lt "${best[$tool]}" ]; then best[$tool]=$t; fi
  done
done

q=${best[quillon]}
printf '%-10s %6d ms\n' "quillon" "$q"
[ "$q" -gt 0 ] || q=1
for tool in objcopy srec_cat; do
  if [ -z "${best[$tool]:-}" ]; then
    printf '%-10s not installed\n' "$tool"
    continue
  fi
  t=${best[$tool]}
  ratio=$(awk -v a="$t" -v b="$q" 'BEGIN { printf "%.2f", a / b }')
  printf '%-10s %6d ms   %sx the time of quillon\n' "$tool" "$t" "$ratio"
done
