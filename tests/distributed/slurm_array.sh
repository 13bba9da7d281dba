#!/usr/bin/env bash
# scripts/tessaly-slurm.sbatch on a Slurm cluster of one node started by the test (munged,
# slurmctld and slurmd on spare ports, every file in the test's folder), shut down after. Over
# the bundled photographs and one broken file: one slice per array task, every photograph
# exported exactly once with its EXIF, the broken one failing its task; mended, only that task is
# resubmitted and only that photograph is written.
#
#   slurm_array.sh TESSALY_CLI SOURCE_DIR      (exit 77: skipped, with the reason)
set -euo pipefail
cli=$(realpath "$1")
source_dir=$(realpath "$2")
for tool in sbatch sinfo scontrol python3 exiftool /usr/sbin/slurmctld /usr/sbin/slurmd \
    /usr/sbin/munged; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[[ $(id -u) -eq 0 ]] || { echo "skipped: slurmd runs jobs as their users only as root"; exit 77; }
work=$(mktemp -d)
export SLURM_CONF="$work/slurm.conf"
cleanup() {
    scontrol shutdown >/dev/null 2>&1 || true
    for pid_file in "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munged.pid"; do
        [[ -f $pid_file ]] && kill "$(cat "$pid_file")" 2>/dev/null || true
    done
    sleep 0.5
    rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/common.sh"

# --- the cluster ---
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
/usr/sbin/munged --force --key-file="$work/munge.key" --socket="$work/munge.sock" \
    --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge.seed"
node=$(hostname)
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/state" "$work/spool"
cat >"$SLURM_CONF" <<CONF
ClusterName=tessaly-test
SlurmctldHost=$node(127.0.0.1)
SlurmUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$work/munge.sock
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=2 RealMemory=1000 State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
/usr/sbin/slurmctld -f "$SLURM_CONF"
/usr/sbin/slurmd -f "$SLURM_CONF" -N "$node"
for _ in $(seq 100); do
    [[ $(sinfo -h -o %t 2>/dev/null) == idle ]] && break
    sleep 0.2
done
[[ $(sinfo -h -o %t) == idle ]] || fail "the node did not come up: $(tail -5 "$work/slurmd.log")"

# --- the array ---
make_photos
out="$work/out"
export TESSALY_CLI="$cli"
status=0
sbatch --wait --quiet --array=1-4 --cpus-per-task=1 -o "$work/task-%a.txt" \
    "$source_dir/scripts/tessaly-slurm.sbatch" "$work/job.workspace" "$work/list" "$out" ||
    status=$?
[[ $status -ne 0 ]] || fail "a failed photograph must fail its task"
check_outputs "$out" $((total - 1))
grep -q '"status": "failed"' "$out/.tessaly-report-2.json" || fail "the failure is not in task 2"
grep -q broken.jpg "$work/task-2.txt" || fail "task 2 does not name the broken file"
[[ $(cat "$out"/.tessaly-report-*.json | grep -c '"status": "done"') -eq $((total - 1)) ]] ||
    fail "reports: $(cat "$out"/.tessaly-report-*.json)"
[[ $(exiftool -s3 -Model "$out/photo 1.jpg") == $(exiftool -s3 -Model "$(head -1 "$work/list")") ]] ||
    fail "EXIF was not copied"
touch -d '2001-01-01' "$out"/*.jpg
cp "$(head -1 "$work/list")" "$broken"
TESSALY_SHARDS=4 sbatch --wait --quiet --array=2 --cpus-per-task=1 -o "$work/again-%a.txt" \
    "$source_dir/scripts/tessaly-slurm.sbatch" "$work/job.workspace" "$work/list" "$out" ||
    fail "the resubmitted task failed: $(cat "$work"/again-*.txt)"
check_outputs "$out" "$total"
[[ $(find "$out" -maxdepth 1 -name '*.jpg' -newermt '2002-01-01' | wc -l) -eq 1 ]] ||
    fail "the resubmitted task redid finished photographs"
echo "slurm array: $total photographs, 4 tasks: ok"
