#!/usr/bin/env bash
# Ctrl-C during a conversion (wine turns SIGINT into CTRL_C_EVENT for the
# program's console control handler): the temporary file beside the output
# goes, no output appears, and an existing output stays as it was.
# Usage: interrupt_test.sh <emulator> <ovkconv.exe>
set -uo pipefail
emulator=$1
program=$2
fail() {
  echo "interrupt_test: $*" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A picture large enough that packing it takes a few seconds: 8192 x 8192
# random pixels of four colours.
python3 - "$work/big.bmp" <<'PY' || fail "cannot make the picture"
import os, struct, sys
w = h = 8192
pixels = os.urandom(w * h).translate(bytes(i & 3 for i in range(256)))
head = struct.pack("<2sIHHI", b"BM", 14 + 40 + 1024 + w * h, 0, 0, 14 + 40 + 1024)
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, w * h, 0, 0, 256, 0)
with open(sys.argv[1], "wb") as f:
    f.write(head + info + bytes(range(256)) * 4 + pixels)
PY
windows=$(printf 'Z:%s' "$work" | tr / '\\')

interrupt() {  # <output name>
  "$emulator" "$program" -v2 "$windows\\big.bmp" "$windows\\$1" >"$work/log" 2>&1 &
  local pid=$!
  local seen=
  for _ in $(seq 1 1500); do
    if compgen -G "$work/*.tmp" >/dev/null; then seen=1; break; fi
    sleep 0.02
  done
  [ -n "$seen" ] || { kill "$pid"; fail "no temporary file appeared: $(cat "$work/log")"; }
  kill -INT "$pid"
  wait "$pid"
  grep -q 'done\.' "$work/log" && fail "the conversion finished before the interrupt"
  compgen -G "$work/*.tmp" >/dev/null && fail "left behind: $(ls "$work")"
  return 0
}

interrupt new.ovk
[ -e "$work/new.ovk" ] && fail "a new output appeared"
printf 'old' >"$work/old.ovk"
interrupt old.ovk
[ "$(cat "$work/old.ovk")" = old ] || fail "the existing output changed"
echo "interrupt_test: ok"
