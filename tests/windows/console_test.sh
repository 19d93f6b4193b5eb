#!/usr/bin/env bash
# The program in a console, as wine makes one for a terminal (script(1) gives
# it one): the messages are written as Unicode whatever the code page (the
# locale here is C.UTF-8, whose code page 1252 has no Japanese), and a
# console that the program has to itself makes it ask for Enter and wait.
# With standard output redirected it neither asks nor waits.
# Usage: console_test.sh <emulator> <ovkconv.exe>
set -uo pipefail
emulator=$1
program=$2
export LANG=C.UTF-8 LC_ALL=C.UTF-8
fail() {
  echo "console_test: $*" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Enter comes 2 s after the start and then every half second (a key that
# comes while wine is still setting up the console can be lost): the program
# must still be waiting for the first.
start=$(date +%s%N)
(sleep 2; while printf '\r'; do sleep 0.5; done) 2>/dev/null | timeout 60 script -qec "$emulator $program" /dev/null >"$work/console"
status=${PIPESTATUS[1]}
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$status" -eq 0 ] || fail "exit status $status"
grep -q '透明度情報無視(ovkへの変換用)(省略可)' "$work/console" || fail "no Unicode usage: $(cat "$work/console")"
grep -q '終了するには Enter キーを押してください' "$work/console" || fail "no request for Enter"
[ "$elapsed" -ge 2000 ] || fail "ended after ${elapsed} ms, before Enter"

# Redirected: no request for Enter (the program would print it before
# waiting), whatever comes on the console afterwards.
(sleep 1; printf '\r') 2>/dev/null |
  timeout 60 script -qec "$emulator $program >$work/redirected" /dev/null >/dev/null
grep -q 'Enter' "$work/redirected" && fail "redirected output asks for Enter"
grep -q 'dest_path' "$work/redirected" || fail "no usage: $(cat "$work/redirected")"
# In code page 1252 the Japanese text is "?", with CRLF line ends.
grep -q $'^\tdest_path  : ???(???)\r$' "$work/redirected" || fail "redirected text: $(od -c "$work/redirected" | tail -3)"
echo "console_test: ok"
