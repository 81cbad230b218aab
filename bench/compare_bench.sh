#!/usr/bin/env bash
# lineview --compare against the two plain runs of its inputs (goal: at most 1.1 times their
# time together), and its peak memory on a short and a long pair: what grows with the input is
# each frame's values and signature, so the growth per hour is printed.
# The runs are interleaved round by round and the best of each kept.
# Usage: bench/compare_bench.sh [path/to/lineview] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/native/lineview}
rounds=${2:-5}
[ -x "$exe" ] || { echo "compare_bench: build $exe first (cmake --build --preset native)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "compare_bench: needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_pair() {  # seconds name: A, and B = A from its frame 7 with other noise
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=6:allf=t" -t "$1" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p "$work/$2-a.mkv"
  ffmpeg -nostdin -v error -y -i "$work/$2-a.mkv" -vf "select='gte(n,7)',setpts=N/25/TB,noise=alls=6:allf=t" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p "$work/$2-b.mkv"
}
make_pair 20 short
make_pair 120 long

calc() { awk "BEGIN { print $* }"; }
less() { awk "BEGIN { exit !($1 < $2) }"; }
run() {  # command... -> "elapsed peakKB"
  /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1
}

best_plain="" best_compare=""
for _ in $(seq 1 "$rounds"); do
  read -r ea _ < <(run "$exe" "$work/short-a.mkv" --page scope --no-progress)
  read -r eb _ < <(run "$exe" "$work/short-b.mkv" --page scope --no-progress)
  read -r ec _ < <(run "$exe" --compare "$work/short-a.mkv" "$work/short-b.mkv" --page scope --no-progress)
  plain=$(calc "$ea + $eb")
  if [ -z "$best_plain" ] || less "$plain" "$best_plain"; then best_plain=$plain; fi
  if [ -z "$best_compare" ] || less "$ec" "$best_compare"; then best_compare=$ec; fi
done
echo "two plain runs ${best_plain} s, --compare ${best_compare} s: $(calc "$best_compare / $best_plain") x (goal: at most 1.1)"

read -r _ short_m < <(run "$exe" --compare "$work/short-a.mkv" "$work/short-b.mkv" --page scope --no-progress --json)
read -r _ long_m < <(run "$exe" --compare "$work/long-a.mkv" "$work/long-b.mkv" --page scope --no-progress --json)
echo "peak memory, --compare: 20 s pair ${short_m} KB, 120 s pair ${long_m} KB:" \
  "$(calc "($long_m - $short_m) * 3600 / 100 / 1024") MB more per hour of a pair"
