#!/usr/bin/env bash
# The report as a browser shows it. Headless Chromium loads the page; the test fails on any
# console message (Chromium reports malformed SVG there), on any reference outside the page,
# where the summary table differs from the JSON summaries of the same run, and where the page
# does not put what did not pass first: the table worst first, each row and listed input a link
# to its section, the passing sections folded (unless there is only one).
#
#   report_browser_test.sh [--screenshot FILE.png] [--window-size W,H] PAGE.html SUMMARIES.json
#   report_browser_test.sh [--screenshot FILE.png] [--window-size W,H] --run PROGRAM [ARGS...]
#
# With --run, PROGRAM ARGS... --report PAGE.html is run and its standard output taken as the
# summaries, e.g. --run lineview --json --min-snr 30 --frames 200.
set -euo pipefail

screenshot="" size="1280,2400"
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) screenshot=$2; shift 2 ;;
    --window-size) size=$2; shift 2 ;;
    *) break ;;
  esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/report-browser-XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ "${1:-}" = "--run" ]; then
  shift
  page="$work/report.html" summaries="$work/summaries.json"
  # A warning (a flagged input: 15) still makes a whole page; a failure does not.
  status=0
  "$@" --report "$page" >"$summaries" || status=$?
  if [ "$status" -ne 0 ] && [ "$status" -lt 6 ]; then
    echo "report_browser_test: $1 ended with status $status" >&2
    exit 1
  fi
elif [ $# -eq 2 ]; then
  page=$1 summaries=$2
else
  sed -n '2,10s/^# \{0,1\}//p' "$0" >&2
  exit 2
fi

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "report_browser_test: no chromium (scripts/bootstrap installs it)" >&2
  exit 1
fi

# A user with no home or profile of its own; root in CI, hence no sandbox; no display needed.
mkdir -p "$work/home"
chrome() {
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache" \
    timeout --kill-after=10 90 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/profile" --enable-logging=stderr --v=0 "$@"
}
url="file://$(realpath "$page")"

chrome --dump-dom "$url" >"$work/dom.html" 2>"$work/browser.log" || {
  echo "report_browser_test: chromium failed:" >&2
  grep -v dbus "$work/browser.log" >&2 || true
  exit 1
}
if grep -E 'CONSOLE|Failed to load resource' "$work/browser.log" >&2; then
  echo "report_browser_test: the page raised the console messages above" >&2
  exit 1
fi

python3 - "$work/dom.html" "$summaries" "$page" <<'EOF'
import json, math, re, sys
from html.parser import HTMLParser

dom = open(sys.argv[1], encoding="utf-8").read()
text = open(sys.argv[2], encoding="utf-8").read()
failures = []

class Cells(HTMLParser):
    def __init__(self):
        super().__init__()
        self.rows = {}        # (input, line) -> {key: value}
        self.row = None
        self.sources = []
        self.ids = set()
        self.order = []       # the rows' verdicts, top to bottom
        self.folds = []       # (verdict, open) of each section
        self.listed = 0       # items in the list of what did not pass
        self.in_list = False
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        if tag == "details":
            self.folds.append((a.get("data-verdict"), "open" in a))
        if tag == "ol" and a.get("class") == "attention":
            self.in_list = True
        if tag == "li" and self.in_list:
            self.listed += 1
        if a.get("data-key") == "verdict":
            self.order.append(a["data-value"])
        if tag == "tr" and "data-input" in a:
            self.row = self.rows.setdefault((a["data-input"], int(a.get("data-line", "-1"))), {})
        if "data-key" in a and self.row is not None:
            self.row[a["data-key"]] = a["data-value"]
        for name in ("src", "href"):
            if name in a:
                self.sources.append(a[name])
    def handle_endtag(self, tag):
        if tag == "ol":
            self.in_list = False

cells = Cells()
cells.feed(dom)
if "http" in dom or "url(" in dom:
    failures.append("the page names an address outside it")
for s in cells.sources:
    if not (s.startswith("data:") or s.startswith("#")):
        failures.append("a reference outside the page: " + s[:80])

summaries, at = [], 0
decoder = json.JSONDecoder()
while True:
    while at < len(text) and text[at].isspace():
        at += 1
    if at >= len(text):
        break
    value, at = decoder.raw_decode(text, at)
    summaries.append(value)
if not summaries:
    failures.append("no JSON summaries")
if len(summaries) != len(cells.rows):
    failures.append("%d summaries, %d rows in the page" % (len(summaries), len(cells.rows)))

def number(v):
    try:
        x = float(v)
    except ValueError:
        return None
    return x if math.isfinite(x) else None

for s in summaries:
    key = (s.get("input") or "", s.get("line", -1))
    # Every summary names its row now; the page names it only where a run analyses several.
    row = cells.rows.get(key, cells.rows.get((key[0], -1)))
    if row is None:
        failures.append("no row for %r" % (key,))
        continue
    if int(row.get("frames", -1)) != s["frames_analysed"]:
        failures.append("%r: %s frames in the page, %d in the JSON" % (key, row.get("frames"), s["frames_analysed"]))
    for channel, stats in s["snr_db"].items():
        for what in ("mean", "min", "max"):
            shown = number(row.get("%s.%s" % (channel, what), "missing"))
            expected = None if stats is None else stats[what]
            if (shown is None) != (expected is None) or (shown is not None and abs(shown - expected) > 0.01):
                failures.append("%r %s.%s: page %s, JSON %s" % (key, channel, what, shown, expected))
    if "verdict" in s and row.get("verdict") != s["verdict"]:
        failures.append("%r: verdict %s in the page, %s in the JSON" % (key, row.get("verdict"), s["verdict"]))
    if "segments" in s:
        count = len(s["segments"]) if isinstance(s["segments"], list) else s["segments"]
        if int(row.get("segments", -1)) != count:
            failures.append("%r: %s segments in the page, %d in the JSON" % (key, row.get("segments"), count))

rank = {"failed": 0, "flag": 1, "incomplete": 2, "pass": 3}
ranks = [rank.get(v, -1) for v in cells.order]
if ranks != sorted(ranks) or -1 in ranks:
    failures.append("the table is not worst first: " + " ".join(cells.order))
for s in cells.sources:
    if s.startswith("#") and s[1:] not in cells.ids:
        failures.append("a link to no section: " + s)
if len(cells.folds) != len(cells.rows):
    failures.append("%d sections, %d rows" % (len(cells.folds), len(cells.rows)))
for verdict, shown in cells.folds:
    if shown != (verdict != "pass" or len(cells.folds) == 1):
        failures.append("a %s section %s" % (verdict, "open" if shown else "folded"))
not_passed = sum(1 for r in ranks if r != 3)
if len(cells.rows) > 1 and cells.listed != not_passed:
    failures.append("%d inputs listed as not passed, %d in the table" % (cells.listed, not_passed))

for f in failures:
    print("report_browser_test: " + f, file=sys.stderr)
if failures:
    sys.exit(1)
size = len(open(sys.argv[3], "rb").read())
print("report_browser_test: %d summaries match the page (%d not passed); %d bytes, %d per input"
      % (len(summaries), not_passed, size, size // max(1, len(summaries))))
EOF

if [ -n "$screenshot" ]; then
  chrome --hide-scrollbars --window-size="$size" --screenshot="$(realpath -m "$screenshot")" "$url" \
    >/dev/null 2>"$work/browser.log" || { grep -v dbus "$work/browser.log" >&2; exit 1; }
fi
