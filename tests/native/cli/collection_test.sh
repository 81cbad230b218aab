#!/usr/bin/env bash
# lineview-collection on a Slurm of one node that this test starts itself (munged, slurmctld and
# slurmd with their config, state, ports and key in a temporary folder, stopped on any exit),
# and on GNU parallel here. The engines' part runs as root only, as CI runs it: elsewhere it
# says so and skips (77) after checking the command line and what reaches lineview.
#
#   collection_test.sh LINEVIEW LINEVIEW-COLLECTION
set -euo pipefail

lineview=$(realpath "$1") collection=$(realpath "$2")
say() { printf 'collection_test: %s\n' "$*" >&2; }
fail() { say "FAILED: $*"; exit 1; }

# --- the command line and the hand-over to lineview, as any user: a stand-in lineview logs each
# call (one word a line, then ---) and writes a sidecar for each input but never.mkv ------------
check_handover() {
  local status from bad
  t=$(mktemp -d "${TMPDIR:-/tmp}/collection-args-XXXXXX")
  trap 'rm -rf "${t:-}"' EXIT  # t is global: the trap sees it
  cat >"$t/stub" <<'STUB'
#!/bin/bash
{ printf '%s\n' "$@"; echo ---; } >>"${0%/*}/calls"
for a; do case $a in --from) exit 15 ;; --sidecar=*) dir=${a#--sidecar=} ;; esac; done
name=${!#}; name=${name##*/}
[ "$name" = never.mkv ] || : >"$dir/$name.lineview.xml.gz"
STUB
  chmod +x "$t/stub"
  mkdir -p "$t/in/.hidden" "$t/in/sub"
  touch "$t/in/b.mkv" "$t/in/sub/a b.mkv" "$t/in/.hidden/x.mkv" "$t/in/.dot.mkv" "$t/in/old.mkv.lineview.xml.gz" \
    "$t/in/c.lock"
  printf '# tapes\n\nrel.mkv\r\n%s\n' "$t/in/b.mkv" >"$t/manifest"
  status=0
  (cd "$t" && "$collection" --lineview ./stub --sidecars sc --report r.html --jobs 1 manifest in \
    -- --line 20 --settings "my settings.ini" --min-snr=30 --flag-gap 2 >/dev/null 2>"$t/err") || status=$?
  [ "$status" -eq 15 ] || fail "the collection's status is not the report step's: $status ($(cat "$t/err"))"
  [ "$(cat "$t"/sc/.lineview-collection/*.manifest)" = "$(printf '%s\n' "$t/rel.mkv" "$t/in/b.mkv" "$t/in/sub/a b.mkv")" ] ||
    fail "the manifest: $(cat "$t"/sc/.lineview-collection/*.manifest)"
  grep -qx 'my settings.ini' "$t/calls" || fail "an option with a space did not reach lineview as one word"
  from=$(sed -n '/^--from$/,/^---$/p' "$t/calls" | tr '\n' '|')
  [ "$from" = "--from|$t/sc/a b.mkv.lineview.xml.gz|$t/sc/b.mkv.lineview.xml.gz|$t/sc/rel.mkv.lineview.xml.gz|--json|--no-progress|--min-snr=30|--flag-gap|2|--report|$t/r.html|---|" ] ||
    fail "the report step: $from"
  # An input with no sidecar: named, status 1.
  touch "$t/in/never.mkv"
  status=0
  (cd "$t" && "$collection" --lineview ./stub --sidecars sc in >/dev/null 2>"$t/err") || status=$?
  { [ "$status" -eq 1 ] && grep -q "$t/in/never.mkv" "$t/err"; } ||
    fail "an input without a sidecar: status $status, $(cat "$t/err")"
  # Bad command lines: status 2, before anything runs.
  while IFS= read -r bad; do
    status=0
    # shellcheck disable=SC2086
    (cd "$t" && "$collection" $bad >/dev/null 2>&1) || status=$?
    [ "$status" -eq 2 ] || fail "'$bad' ended with $status, not 2"
  done <<'BAD'
in
--sidecars sc
--sidecars sc --engine grid in
--sidecars sc --engine ssh in
--sidecars sc --jobs 0 in
--sidecars sc --wait in
--sidecars sc --partition p in
--sidecars sc --engine slurm --max-running x in
--sidecars sc in -- --sidecar=elsewhere
--sidecars sc in -- --from x
--sidecars sc --bogus in
--sidecars sc nothing-there
BAD
  rm -rf "$t"
}
check_handover
say "the command line and the hand-over to lineview: as expected"

if [ "$(id -u)" -ne 0 ]; then
  say "*** SKIPPED: not root. Slurm's daemons run as root here; CI runs this test as root. ***"
  exit 77
fi
for p in munged slurmctld slurmd sbatch squeue scancel parallel ffmpeg; do
  command -v "$p" >/dev/null || fail "$p is missing (scripts/bootstrap installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/collection-test-XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
  local pid status=$?
  if [ -n "${SLURM_CONF:-}" ]; then
    # Jobs first (their steps are not the daemons' children), then the daemons.
    scancel --full $(squeue -h -o %i 2>/dev/null) 2>/dev/null || true
    for _ in $(seq 50); do [ -z "$(squeue -h 2>/dev/null)" ] && break; sleep 0.2; done
    [ $status -eq 0 ] || tail -n 15 "$work"/slurm/*.log >&2 2>/dev/null || true
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# --- a Slurm of one node, private to this run ----------------------------------------------------
free_port() {  # a port no one listens on, with the next one free too
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 30000))
    ss -Htln "sport = :$p or sport = :$((p + 1))" 2>/dev/null | grep -q . || { echo "$p"; return; }
  done
  fail "no free port"
}
start_slurm() {
  local s=$work/slurm port node
  mkdir -p "$s/state" "$s/spool" "$s/munge"
  chmod 700 "$s/munge"
  dd if=/dev/urandom of="$s/munge/key" bs=1024 count=1 status=none
  chmod 400 "$s/munge/key"
  munged --force --foreground --socket="$s/munge/socket" --key-file="$s/munge/key" \
    --pid-file="$s/munge/pid" --log-file="$s/munge/log" --seed-file="$s/munge/seed" >"$s/munge/out" 2>&1 &
  pids+=($!)
  port=$(free_port) node=$(hostname -s)
  cat >"$s/slurm.conf" <<EOF
ClusterName=lvtest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$s/munge/socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/slurmctld.log
SlurmdLogFile=$s/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
MinJobAge=600
# Five inputs make two arrays (1-3, 1-2), one after the other, as thousands would on a cluster.
MaxArraySize=4
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=lvtest Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF=$s/slurm.conf
  for _ in $(seq 50); do [ -S "$s/munge/socket" ] && break; sleep 0.1; done
  slurmctld -D -i -f "$SLURM_CONF" >"$s/slurmctld.out" 2>&1 &
  pids+=($!)
  slurmd -D -f "$SLURM_CONF" -N "$node" >"$s/slurmd.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    [ "$(sinfo -h -o %t 2>/dev/null)" = idle ] && return
    sleep 0.2
  done
  tail -n 20 "$s"/*.log "$s"/*.out >&2 || true
  fail "the Slurm node did not come up"
}

# --- five tiny inputs ----------------------------------------------------------------------------
mkdir -p "$work/in/a" "$work/in/b"
for i in 1 2 3 4 5; do
  dir=$work/in/a
  [ "$i" -gt 3 ] && dir=$work/in/b
  ffmpeg -v error -f lavfi -i "testsrc=size=64x48:rate=25,hue=H=$i" -frames:v 4 -pix_fmt yuv420p "$dir/tape $i.mkv"
  printf '%s\n' "$dir/tape $i.mkv" >>"$work/manifest"
done
opts=(-- --line 20 --min-snr 3)

sidecars() { (cd "$1" && LC_ALL=C ls -1 -- *.lineview.xml.gz); }
mtimes() { (cd "$1" && stat -c '%n %Y.%y' -- *.lineview.xml.gz); }
direct_report() {  # the report lineview --from gives over the same sidecars, in C name order
  local list
  mapfile -t list < <(sidecars "$1")
  (cd "$1" && "$lineview" --from "${list[@]}" --no-progress --min-snr 3 --report "$2" >/dev/null 2>&1) || true
}
slurm_run() {
  local status=0
  LINEVIEW=$lineview "$collection" --engine slurm --wait --max-running 2 --time 5 --sidecars "$work/sc" \
    --report "$work/slurm.html" "$work/manifest" "${opts[@]}" >"$work/out.json" 2>"$work/err" || status=$?
  cat "$work/err" >&2
  [ "$status" -eq 0 ] || [ "$status" -eq 15 ] || fail "--engine slurm --wait: status $status"
}

start_slurm
say "Slurm is up: $(sinfo -h -o '%N %t')"

# A whole collection; the report is lineview --from's.
slurm_run
[ "$(sidecars "$work/sc" | wc -l)" -eq 5 ] || fail "$(sidecars "$work/sc" | wc -l) sidecars, not 5"
[ "$(grep -c '"input"' "$work/out.json")" -eq 5 ] || fail "the report step did not print five summaries"
direct_report "$work/sc" "$work/direct.html"
cmp "$work/slurm.html" "$work/direct.html" || fail "the collection's report differs from lineview --from's"

# One sidecar removed: the rerun makes it again. With resume in lineview, it makes only that one.
mtimes "$work/sc" | grep -v '^tape 2\.mkv' >"$work/before"
rm "$work/sc/tape 2.mkv.lineview.xml.gz"
sleep 1.1  # a second, so a sidecar written again has another time
slurm_run
[ -f "$work/sc/tape 2.mkv.lineview.xml.gz" ] || fail "the removed sidecar was not made again"
if "$lineview" --help | grep -qE '^ +-y[ ,]'; then
  mtimes "$work/sc" | grep -v '^tape 2\.mkv' | cmp - "$work/before" || fail "the rerun analysed inputs that were done"
else
  say "WAITING for resume in lineview (complete sidecars skipped): not checked that the others were left alone"
fi

# A task cancelled while it waits: that input is missing, said, and the rerun completes it.
rm "$work/sc/tape 3.mkv.lineview.xml.gz"
hold=$(sbatch --parsable --wrap 'sleep 30' --cpus-per-task="$(nproc)") || fail "sbatch"
LINEVIEW=$lineview "$collection" --engine slurm --max-running 1 --sidecars "$work/sc" \
  --report "$work/slurm.html" "$work/manifest" "${opts[@]}" 2>"$work/err" || fail "submission: $(cat "$work/err")"
array=$(squeue -h -r -n lineview -o '%F' | sort -n | head -n1)
[ -n "$array" ] || fail "no job array in the queue"
scancel "${array}_3"
scancel "$hold"
for _ in $(seq 300); do [ -z "$(squeue -h)" ] && break; sleep 0.2; done
[ -z "$(squeue -h)" ] || fail "the jobs did not end"
[ ! -f "$work/sc/tape 3.mkv.lineview.xml.gz" ] || fail "the cancelled task made its sidecar"
last=$(ls -t "$work/sc/.lineview-collection/"*.status | head -n1)
[ "$(cat "$last")" = 1 ] || fail "a collection with a cancelled task ended with status $(cat "$last"), not 1"
grep -rq 'tape 3.mkv' "$work/sc/.lineview-collection/"report-*.err || fail "the missing input was not named"
slurm_run
[ -f "$work/sc/tape 3.mkv.lineview.xml.gz" ] || fail "the rerun did not complete the cancelled input"
direct_report "$work/sc" "$work/direct.html"
cmp "$work/slurm.html" "$work/direct.html" || fail "the report after the rerun differs from lineview --from's"

# GNU parallel here: the same sidecars, the same report.
status=0
LINEVIEW=$lineview "$collection" --engine local --jobs 2 --sidecars "$work/local" --report "$work/local.html" \
  "$work/in" "${opts[@]}" >/dev/null 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 15 ] || fail "--engine local: status $status: $(cat "$work/err")"
diff <(sidecars "$work/sc") <(sidecars "$work/local") || fail "the engines made different sidecars"
while IFS= read -r f; do
  cmp <(gzip -dc "$work/sc/$f") <(gzip -dc "$work/local/$f") || fail "$f differs between the engines"
done < <(sidecars "$work/sc")
cmp "$work/slurm.html" "$work/local.html" || fail "the engines' reports differ"

# --engine ssh with this machine (":") as its one login: the same report.
printf '2/:\n' >"$work/machines"
LINEVIEW=$lineview "$collection" --engine ssh --sshloginfile "$work/machines" --sidecars "$work/ssh" \
  --report "$work/ssh.html" "$work/manifest" "${opts[@]}" >/dev/null 2>"$work/err" || status=$?
cmp "$work/slurm.html" "$work/ssh.html" || fail "--engine ssh's report differs: $(cat "$work/err")"
say "passed"
