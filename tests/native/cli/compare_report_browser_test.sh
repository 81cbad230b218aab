#!/usr/bin/env bash
# The page of a comparison as a browser shows it. Two tiny captures of one moving picture (B
# starts at A's frame 5, lacks A's frame 50, more noise from 2 s to 3 s) are compared with
# --json --report, then again from their sidecars; headless Chromium loads each page. The test
# fails on any console message, any reference outside the page, and any verdict, offset,
# mean or segment cell that differs from the JSON of the same run.
#
#   compare_report_browser_test.sh LINEVIEW
set -euo pipefail

lineview=${1:?usage: compare_report_browser_test.sh LINEVIEW}
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "compare_report_browser_test: no chromium (scripts/bootstrap installs it)" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/compare-report-XXXXXX")
trap 'rm -rf "$work"' EXIT

ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "testsrc2=s=128x96:r=25,drawbox=x=0:y=56:w=128:h=40:color=gray:t=fill" -frames:v 100 \
  -vf noise=alls=8:allf=t -c:v ffv1 "$work/a.mkv"
ff -f lavfi -i "testsrc2=s=128x96:r=25,drawbox=x=0:y=56:w=128:h=40:color=gray:t=fill" -frames:v 100 \
  -vf "select='gte(n\,5)*not(eq(n\,50))',setpts=N/25/TB,noise=alls=8:allf=t,noise=alls=30:allf=t:enable='between(t\,2\,3)'" \
  -c:v ffv1 "$work/b.mkv"

# Both ways: decoded (with sidecars), and from those sidecars.
"$lineview" --compare "$work/a.mkv" "$work/b.mkv" --line 80 --no-progress --json --sidecar="$work" \
  --report "$work/decoded.html" >"$work/decoded.json"
"$lineview" --compare --from "$work/a.mkv.lineview.xml.gz" "$work/b.mkv.lineview.xml.gz" --line 80 --json \
  --report "$work/from.html" >"$work/from.json"

mkdir -p "$work/home"
for run in decoded from; do
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" \
    timeout --kill-after=10 90 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/profile" --enable-logging=stderr --v=0 --dump-dom "file://$work/$run.html" \
    >"$work/$run.dom" 2>"$work/$run.log" || { grep -v dbus "$work/$run.log" >&2; exit 1; }
  if grep -E 'CONSOLE|Failed to load resource' "$work/$run.log" >&2; then
    echo "compare_report_browser_test: the $run page raised the console messages above" >&2
    exit 1
  fi
  python3 - "$work/$run.dom" "$work/$run.json" "$run" <<'EOF'
import json, math, sys
from html.parser import HTMLParser

dom, result, run = open(sys.argv[1], encoding="utf-8").read(), json.load(open(sys.argv[2])), sys.argv[3]
failures = []

class Cells(HTMLParser):
    def __init__(self):
        super().__init__()
        self.top, self.segments, self.sources, self.row = {}, [], [], None
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        for name in ("src", "href"):
            if name in a and not a[name].startswith("data:"):
                self.sources.append(a[name])
        if tag == "tr" and "data-segment" in a:
            self.row = {}
            self.segments.append(self.row)
        if "data-key" in a:
            (self.row if self.row is not None else self.top)[a["data-key"]] = a["data-value"]
    def handle_endtag(self, tag):
        if tag == "tr":
            self.row = None

cells = Cells()
cells.feed(dom)
if "http" in dom or "url(" in dom or cells.sources:
    failures.append("the page names something outside it: %r" % cells.sources[:3])
if "data:image/png;base64," not in dom:
    failures.append("no picture of the line")

def same(shown, expected, what):
    if isinstance(expected, (int, float)) and not isinstance(expected, bool):
        ok = shown is not None and math.isclose(float(shown), expected, rel_tol=0, abs_tol=1e-3)
    else:
        ok = shown == expected
    if not ok:
        failures.append("%s: page %r, JSON %r" % (what, shown, expected))

verdict = result["verdict"]
same(cells.top.get("verdict.better"), verdict["better"] or "none", "verdict")
same(cells.top.get("verdict.by"), verdict["by"], "better by")
for key in ("offset_frames", "offset_seconds", "aligned_frames"):
    same(cells.top.get(key), result[key], key)
same(cells.top.get("gaps"), len(result["gaps"]), "gaps")
for channel, means in result["channels"].items():
    for what, value in means.items():
        same(cells.top.get(channel + "." + what), value, channel + "." + what)
if len(cells.segments) != len(result["segments"]):
    failures.append("%d segments in the page, %d in the JSON" % (len(cells.segments), len(result["segments"])))
for i, (row, seg) in enumerate(zip(cells.segments, result["segments"])):
    for key, value in seg.items():
        same(row.get(key), value, "segment %d %s" % (i, key))
# What the pair was made to show: the page must not be checked against an empty comparison.
if result["offset_frames"] != 5 or not result["segments"] or not result["gaps"]:
    failures.append("the pair did not compare as made: offset %s, %d gaps, %d segments"
                    % (result["offset_frames"], len(result["gaps"]), len(result["segments"])))

for f in failures:
    print("compare_report_browser_test (%s): %s" % (run, f), file=sys.stderr)
if failures:
    sys.exit(1)
print("compare_report_browser_test (%s): %d cells and %d segments match the JSON; %d bytes"
      % (run, len(cells.top), len(cells.segments), len(dom)))
EOF
done
