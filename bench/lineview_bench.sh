#!/usr/bin/env bash
# lineview against FFmpeg's own decoding of the same file: frames per second per page, as a
# ratio to `ffmpeg -i clip.mkv -f null -` (goal: at most 1.3), and peak memory on a short and a
# long clip (which must not differ: nothing grows with the input).
# Usage: bench/lineview_bench.sh [path/to/lineview] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/native/lineview}
runs=${2:-3}
[ -x "$exe" ] || { echo "lineview_bench: build $exe first (cmake --build --preset native)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "lineview_bench: needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_clip() {  # seconds file
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25" -t "$1" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p "$2"
}
make_clip 20 "$work/clip.mkv"
make_clip 120 "$work/long.mkv"
frames=500

calc() { awk "BEGIN { print $* }"; }
less() { awk "BEGIN { exit !($1 < $2) }"; }

# Best of $runs: elapsed and CPU (user + system) seconds, peak resident KB.
measure() {
  local best_e="" best_c="" peak=0 e u s m
  for _ in $(seq 1 "$runs"); do
    read -r e u s m < <(/usr/bin/time -f "%e %U %S %M" "$@" 2>&1 >/dev/null | tail -1)
    local c
    c=$(calc "$u + $s")
    if [ -z "$best_e" ] || less "$e" "$best_e"; then best_e=$e; fi
    if [ -z "$best_c" ] || less "$c" "$best_c"; then best_c=$c; fi
    [ "$m" -gt "$peak" ] && peak=$m
  done
  echo "$best_e $best_c $peak"
}

read -r ff_e ff_c ff_m < <(measure ffmpeg -nostdin -v error -i "$work/clip.mkv" -f null -)
printf '%-22s %8s %8s %10s %10s\n' what fps "x ffmpeg" "cpu x ff" "peak KB"
printf '%-22s %8.0f %8s %10s %10s\n' "ffmpeg -f null"  "$(calc "$frames / $ff_e")" 1.00 1.00 "$ff_m"
row() {  # label, then lineview's arguments after the clip
  local label=$1; shift
  read -r e c m < <(measure "$exe" "$work/clip.mkv" "$@")
  printf '%-22s %8.0f %8.2f %10.2f %10s\n' "$label" "$(calc "$frames / $e")" \
    "$(calc "$e / $ff_e")" "$(calc "$c / $ff_c")" "$m"
}
# CSV alone: every frame sampled and measured, no page drawn.
row "csv" --page scope
# A picture of each selected page every second of video (25 frames): the pages' own cost.
for page in scope spectrum levels all; do
  row "$page, png every 25" --page "$page" --png "$work/png" --every 25
done
read -r _ _ short_m < <(runs=1 measure "$exe" "$work/clip.mkv" --page all --json)
read -r _ _ long_m < <(runs=1 measure "$exe" "$work/long.mkv" --page all --json)
echo "peak memory, --page all: 20 s clip ${short_m} KB, 120 s clip ${long_m} KB"
