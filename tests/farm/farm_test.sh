#!/bin/bash
# The shipped farm scripts run for real: a one-node Slurm cluster (munged,
# slurmctld and slurmd started here, stopped by their process ids at the
# end) runs examples/farm/smooth.sbatch as a job array of 4 tasks over 24
# frames, and GNU parallel runs examples/farm/smooth-parallel.sh in 4
# slices. Every frame must be written once and equal a -j 1 run byte for
# byte. Needs root (the daemons); skips (77) with the reason elsewhere.
#
#   farm_test.sh ORU_PROGRAM SOURCE_DIR WORK_DIR
set -uo pipefail
oru="$1" top="$2" work="$3"
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: starting the Slurm daemons needs root"
  exit 77
fi
for tool in munged slurmctld slurmd sbatch sinfo parallel; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool not found (scripts/install-deps installs munge, slurmctld, slurmd, slurm-client, parallel)"
    exit 1
  fi
done

rm -rf "$work"
mkdir -p "$work/in" "$work/reference" "$work/slurm" "$work/parallel" "$work/state" "$work/spool"
chmod 755 "$work"
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
}
trap stop EXIT
fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log; do [ -f "$log" ] && { echo "--- $log"; tail -20 "$log"; }; done
  exit 1
}

# 24 frames, each another part of the sample, and what -j 1 makes of them.
for f in $(seq 1 24); do
  oiiotool "$top/examples/sample.png" --cut "200x150+$((f * 4))+$((f * 3))" \
    -o "$work/in/shot.$(printf %04d "$f").png" || fail "cannot make frame $f"
done
"$oru" filter "$work/in/shot.####.png" -o "$work/reference/shot.####.png" -j 1 -q ||
  fail "the reference run failed"

# Compares a folder of outputs with the reference, frame by frame.
same() {
  local folder="$1" f name
  for f in $(seq 1 24); do
    name="shot.$(printf %04d "$f").png"
    cmp -s "$work/reference/$name" "$folder/$name" || fail "$folder/$name differs or is missing"
  done
  [ "$(ls -A "$folder" | wc -l)" -eq 24 ] || fail "$folder holds other files: $(ls -A "$folder")"
}

# ---- Slurm: munge, a controller and one node ------------------------------
node="$(hostname -s)"
cpus="$(slurmd -C | sed -n 's/.*CPUs=\([0-9]*\).*/\1/p' | head -1)"
memory="$(slurmd -C | sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p' | head -1)"
install -d -o munge -g munge -m 0755 /run/munge
[ -s /etc/munge/munge.key ] || mungekey --create >/dev/null 2>&1 || fail "no munge key"
install -d -o munge -g munge -m 0755 "$work/munge"
runuser -u munge -- munged --pid-file="$work/munge/munged.pid" \
  --log-file="$work/munge/munged.log" || fail "munged did not start"
sleep 0.3
pids+=("$(cat "$work/munge/munged.pid")")
cat >"$work/slurm.conf" <<EOF
ClusterName=oru-test
SlurmctldHost=$node
AuthType=auth/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldPort=16817
SlurmdPort=16818
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
NodeName=$node CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$work/slurm.conf"
slurmctld -c -f "$SLURM_CONF" || fail "slurmctld did not start"
slurmd -N "$node" -f "$SLURM_CONF" || fail "slurmd did not start"
sleep 0.5
for file in slurmctld.pid slurmd.pid; do
  [ -s "$work/$file" ] && pids+=("$(cat "$work/$file")")
done
for _ in $(seq 100); do
  sinfo -h -o %T 2>/dev/null | grep -qx idle && break
  sleep 0.2
done
sinfo -h -o %T | grep -qx idle || fail "the node did not come up: $(sinfo -h 2>&1)"

start=$(date +%s)
ORU="$oru" sbatch --wait --array=1-4 --cpus-per-task=1 --chdir="$work" \
  --output="$work/task-%a.log" "$top/examples/farm/smooth.sbatch" \
  "$work/in/shot.####.png" "$work/slurm/shot.####.png" 1-24 >"$work/sbatch.log" 2>&1 ||
  fail "the job array failed: $(cat "$work/sbatch.log")"
same "$work/slurm"
# Each task's last line counts its frames: together every frame once.
written=0
for task in 1 2 3 4; do
  line="$(tail -1 "$work/task-$task.log")"
  case "$line" in "oru: chunk $task/4: 6 frames: 6 written, 0 skipped"*) ;;
    *) fail "task $task said: $line" ;; esac
  written=$((written + 6))
done
[ "$written" -eq 24 ] || fail "$written frames written in all"
echo "PASS Slurm: 4 tasks wrote the 24 frames once each ($(($(date +%s) - start)) s)"

# Submitted again, the array finds every output there and writes nothing.
ORU="$oru" sbatch --wait --array=1-4 --cpus-per-task=1 --chdir="$work" \
  --output="$work/again-%a.log" "$top/examples/farm/smooth.sbatch" \
  "$work/in/shot.####.png" "$work/slurm/shot.####.png" 1-24 >"$work/sbatch.log" 2>&1 ||
  fail "the job array failed again: $(cat "$work/sbatch.log")"
grep -q "0 written, 6 skipped" "$work/again-2.log" || fail "again: $(tail -1 "$work/again-2.log")"
same "$work/slurm"
echo "PASS Slurm: the array run again skips every frame"

# ---- GNU parallel ----------------------------------------------------------
start=$(date +%s)
ORU="$oru" "$top/examples/farm/smooth-parallel.sh" "$work/in/shot.####.png" \
  "$work/parallel/shot.####.png" 1-24 4 >"$work/parallel.log" 2>&1 ||
  fail "GNU parallel failed: $(cat "$work/parallel.log")"
same "$work/parallel"
[ "$(grep -c ": 6 written, 0 skipped" "$work/parallel.log")" -eq 4 ] ||
  fail "GNU parallel's slices said: $(cat "$work/parallel.log")"
echo "PASS GNU parallel: 4 slices wrote the 24 frames once each ($(($(date +%s) - start)) s)"
