#!/usr/bin/env bash
# One batch against one process per file, and -j1 against the default: 1,000
# copies of the bundled examples (half rings_128x96.png, half tiles_64x64.bmp)
# converted to ovk and the results back to PNG, each way timed side by side
# in one run. Every way must write the very same files; the script fails when
# they differ.
#
#   bench/batch.sh [ovkconv] [work-folder]
#
# ovkconv defaults to build/default/ovkconv; the work folder (made and removed
# here) to a new one under $TMPDIR or /tmp. Each figure is the best of
# $ROUNDS runs (default 3).
set -euo pipefail
cd "$(dirname "$0")/.."

ovkconv=$(realpath "${1:-build/default/ovkconv}")
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/ovkbatch.XXXXXX")
trap 'rm -rf "$work"' EXIT
rounds=${ROUNDS:-3}
count=1000
cores=$(nproc)

mkdir "$work/in"
for ((i = 0; i < count / 2; i++)); do
  cp examples/rings_128x96.png "$work/in/r$i.png"
  cp examples/tiles_64x64.bmp "$work/in/t$i.bmp"
done

now() { date +%s.%N; }

# time_way NAME PATTERN COMMAND...: runs the command $rounds times into a
# fresh out/ (the command writes its outputs there), keeps the best time in
# best[NAME] and the outputs of the last run in $work/NAME.
declare -A best
time_way() {
  local name=$1
  shift
  local t
  for ((r = 0; r < rounds; r++)); do
    rm -rf "$work/out"
    mkdir "$work/out"
    local start end
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    t=$(echo "$end - $start" | bc)
    if [[ -z ${best[$name]:-} ]] || (($(echo "$t < ${best[$name]}" | bc))); then
      best[$name]=$t
    fi
  done
  rm -rf "${work:?}/$name"
  mv "$work/out" "$work/$name"
}

per_file() {  # per_file INPUT-FOLDER [options]: xargs, one process per file
  local in=$1
  shift
  find "$in" -type f -print0 | xargs -0 -P"$cores" -I{} "$ovkconv" "$@" {} "$work/out/"
}

same() {  # same A B: the two folders hold the same files, byte for byte
  diff -r "$work/$1" "$work/$2" >/dev/null || {
    echo "FAIL: $1 and $2 differ" >&2
    exit 1
  }
}

time_way to_each per_file "$work/in"
time_way to_batch "$ovkconv" "$work/in/*" "$work/out/"
time_way to_j1 "$ovkconv" -j1 "$work/in/*" "$work/out/"
same to_each to_batch
same to_batch to_j1
[[ $(find "$work/to_batch" -name '*.ovk' | wc -l) -eq $count ]] || {
  echo "FAIL: not every input was converted" >&2
  exit 1
}

mv "$work/to_batch" "$work/ovk"
time_way from_each per_file "$work/ovk" -p
time_way from_batch "$ovkconv" -p "$work/ovk/*.ovk" "$work/out/"
time_way from_j1 "$ovkconv" -p -j1 "$work/ovk/*.ovk" "$work/out/"
same from_each from_batch
same from_batch from_j1

ratio() { echo "scale=2; $1 / $2" | bc; }
printf '%d files, %d cores, best of %d, seconds:\n' "$count" "$cores" "$rounds"
for dir in to from; do
  each=${best[${dir}_each]} batch=${best[${dir}_batch]} j1=${best[${dir}_j1]}
  label=$([[ $dir == to ]] && echo "BMP/PNG -> ovk" || echo "ovk -> PNG    ")
  printf '%s  per file (xargs -P%d) %6.2f  batch %6.2f  -j1 %6.2f   batch %sx faster than per file, default %sx faster than -j1\n' \
    "$label" "$cores" "$each" "$batch" "$j1" "$(ratio "$each" "$batch")" "$(ratio "$j1" "$batch")"
done
