#!/usr/bin/env bash
# lineview against FFmpeg's own decoding of the same file: frames per second per page, as a
# ratio to `ffmpeg -i clip.mkv -f null -` (goal: at most 1.3; the plain CSV at most 1.05), and peak
# memory on a short and a long clip (which must not differ: nothing grows with the input). The
# CSV and live runs again on a 10-bit 4:2:0 clip (and --snr weighted on both), against ffmpeg decoding that clip: its chroma is
# interpolated between rows, so the converted band is taller.
# The runs are interleaved round by round and the best of each kept, so a machine shared with
# other work slows every candidate alike.
# Usage: bench/lineview_bench.sh [path/to/lineview] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/native/lineview}
rounds=${2:-5}
[ -x "$exe" ] || { echo "lineview_bench: build $exe first (cmake --build --preset native)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "lineview_bench: needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_clip() {  # seconds file [pixel format]
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25" -t "$1" \
    -c:v libx264 -preset veryfast -pix_fmt "${3:-yuv420p}" "$2"
}
make_clip 20 "$work/clip.mkv"
make_clip 20 "$work/clip10.mkv" yuv420p10le
make_clip 120 "$work/long.mkv"
frames=500

calc() { awk "BEGIN { print $* }"; }
less() { awk "BEGIN { exit !($1 < $2) }"; }

labels=("ffmpeg -f null" "csv" "scope, png every 25" "spectrum, png every 25" "levels, png every 25"
        "all, png every 25" "live, no pacing" "10-bit: ffmpeg -f null" "10-bit: csv" "10-bit: live, no pacing"
        "csv, ten lines together" "csv, ten lines apart" "csv, --snr weighted" "10-bit: csv, --snr weighted")
reference_of() { if { [ "$1" -ge 7 ] && [ "$1" -le 9 ]; } || [ "$1" -eq 13 ]; then echo 7; else echo 0; fi; }  # the ffmpeg run a row is compared with
command_of() {  # index -> the command line
  case $1 in
    0) echo ffmpeg -nostdin -v error -i "$work/clip.mkv" -f null - ;;
    1) echo "$exe" "$work/clip.mkv" --page scope ;;  # every frame sampled and measured, no page drawn
    2) echo "$exe" "$work/clip.mkv" --page scope --png "$work/png" --every 25 ;;
    3) echo "$exe" "$work/clip.mkv" --page spectrum --png "$work/png" --every 25 ;;
    4) echo "$exe" "$work/clip.mkv" --page levels --png "$work/png" --every 25 ;;
    5) echo "$exe" "$work/clip.mkv" --page all --png "$work/png" --every 25 ;;
    # The live window (SDL's offscreen driver) with the clip as fast as it decodes.
    6) echo env SDL_VIDEODRIVER=offscreen "$exe" "$work/clip.mkv" --page scope --live --no-pacing ;;
    7) echo ffmpeg -nostdin -v error -i "$work/clip10.mkv" -f null - ;;
    8) echo "$exe" "$work/clip10.mkv" --page scope ;;
    9) echo env SDL_VIDEODRIVER=offscreen "$exe" "$work/clip10.mkv" --page scope --live --no-pacing ;;
    # Ten lines in one pass: in one band of rows, and spread so that each has its own.
    10) echo "$exe" "$work/clip.mkv" --page scope --line 100-109 ;;
    11) echo "$exe" "$work/clip.mkv" --page scope --line 23,80,140,200,260,320,380,440,500,560 ;;
    # The luminance method's band-limiting and weighting on top of the plug-in's measurement.
    12) echo "$exe" "$work/clip.mkv" --page scope --snr weighted ;;
    13) echo "$exe" "$work/clip10.mkv" --page scope --snr weighted ;;
  esac
}
declare -a best_e best_c peak
for _ in $(seq 1 "$rounds"); do
  for i in "${!labels[@]}"; do
    # shellcheck disable=SC2046 # the work folder has no blanks
    read -r e u s m < <(/usr/bin/time -f "%e %U %S %M" $(command_of "$i") 2>&1 >/dev/null | tail -1)
    c=$(calc "$u + $s")
    if [ -z "${best_e[$i]:-}" ] || less "$e" "${best_e[$i]}"; then best_e[$i]=$e; fi
    if [ -z "${best_c[$i]:-}" ] || less "$c" "${best_c[$i]}"; then best_c[$i]=$c; fi
    if [ "$m" -gt "${peak[$i]:-0}" ]; then peak[$i]=$m; fi
  done
done

printf '%-24s %8s %9s %9s %10s\n' "" fps "x ffmpeg" "cpu x ff" "peak KB"
for i in "${!labels[@]}"; do
  r=$(reference_of "$i")
  printf '%-24s %8.0f %9.2f %9.2f %10s\n' "${labels[$i]}" "$(calc "$frames / ${best_e[$i]}")" \
    "$(calc "${best_e[$i]} / ${best_e[$r]}")" "$(calc "${best_c[$i]} / ${best_c[$r]}")" "${peak[$i]}"
done
read -r _ _ _ short_m < <(/usr/bin/time -f "%e %U %S %M" "$exe" "$work/clip.mkv" --page all --json 2>&1 >/dev/null | tail -1)
read -r _ _ _ long_m < <(/usr/bin/time -f "%e %U %S %M" "$exe" "$work/long.mkv" --page all --json 2>&1 >/dev/null | tail -1)
echo "peak memory, --page all: 20 s clip ${short_m} KB, 120 s clip ${long_m} KB"

# The live path per frame, decoding excluded (bench/live_bench.cpp), beside ffmpeg's decoding
# per frame of the same 720x576 clip.
live_bench="$(dirname "$exe")/live_bench"
if [ -x "$live_bench" ]; then
  decode_ms=$(calc "${best_e[0]} * 1000 / $frames")
  "$live_bench" --benchmark_format=csv 2>/dev/null | awk -F, -v d="$decode_ms" '
    /^"BM_Live/ { gsub(/"/, "", $1); ms = ($3 / ($5 == "us" ? 1000 : ($5 == "ns" ? 1e6 : 1))); cpu = ($4 / ($5 == "us" ? 1000 : ($5 == "ns" ? 1e6 : 1)));
                  printf "%-26s %7.3f ms wall %7.3f ms cpu   %5.2f x ffmpeg decoding a frame (%.3f ms)\n", $1, ms, cpu, ms / d, d }'
fi
