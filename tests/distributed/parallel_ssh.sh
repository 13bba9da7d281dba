#!/usr/bin/env bash
# scripts/tessaly-parallel with GNU parallel over ssh to two host names of this machine: an sshd
# of the test's own on a spare port with a throwaway key. Over the bundled photographs and one
# broken file: every photograph exported exactly once, numbered by its place in the list, with
# its EXIF; the broken one reported, then mended and resumed with --resume-failed without
# redoing the rest; the same again with --transfer (no shared file system assumed).
#
#   parallel_ssh.sh TESSALY_CLI SOURCE_DIR      (exit 77: skipped, with the reason)
set -euo pipefail
cli=$(realpath "$1")
source_dir=$(realpath "$2")
for tool in parallel ssh ssh-keygen exiftool python3 /usr/sbin/sshd; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
sshd_pid=""
cleanup() {
    [[ -n $sshd_pid ]] && kill "$sshd_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# --- the hosts: one sshd, two names ---
source "$(dirname "$0")/common.sh"
start_sshd
# --- the photographs, a broken one among them, and the workspace ---
make_photos
run() { "$source_dir/scripts/tessaly-parallel" --ssh "$ssh_command" -S 1/w1,1/w2 --shards 4 \
    --cli "$cli" "$@"; }
# --- one file system ---
out="$work/out"
status=0
run "$work/job.workspace" "$work/list" "$out" >"$work/run1.txt" 2>&1 || status=$?
[[ $status -ne 0 ]] || fail "a failed photograph must fail the run"
grep -q "broken.jpg" "$work/run1.txt" || fail "the broken file is not named: $(cat "$work/run1.txt")"
check_outputs "$out" $((total - 1))
[[ $(cat "$out"/.tessaly-report-*.json | grep -c '"status": "done"') -eq $((total - 1)) ]] ||
    fail "reports: $(cat "$out"/.tessaly-report-*.json)"
grep -q '"status": "failed"' "$out/.tessaly-report-2.json" || fail "the failure is not in slice 2"
[[ $(exiftool -s3 -Model "$out/photo $(( $(grep -n /Path/ "$work/list" | cut -d: -f1) )).jpg") == E-M1 ]] ||
    fail "EXIF was not copied"
# Both hosts took slices: the job log names them.
grep -q w1 "$out/.tessaly-joblog" && grep -q w2 "$out/.tessaly-joblog" || fail "one host did all"
touch -d '2001-01-01' "$out"/*.jpg
cp "${photos[0]}" "$broken"
run --resume-failed "$work/job.workspace" "$work/list" "$out" >"$work/run2.txt" 2>&1 ||
    fail "the resumed run failed: $(cat "$work/run2.txt")"
check_outputs "$out" "$total"
# Only the mended photograph was written again.
[[ $(find "$out" -maxdepth 1 -name '*.jpg' -newermt '2002-01-01' | wc -l) -eq 1 ]] ||
    fail "the resumed run redid finished photographs"

# --- no shared file system assumed ---
head -c 5000 /dev/urandom >"$broken"
out2="$work/out2"
status=0
run --transfer "$work/job.workspace" "$work/list" "$out2" >"$work/run3.txt" 2>&1 || status=$?
[[ $status -ne 0 ]] || fail "a failed photograph must fail the transfer run"
check_outputs "$out2" $((total - 1))
# The same pictures (the files differ in their metadata: the dates of the profile made for
# them). GIF keeps only the pixels.
for dir in "$out" "$out2"; do
    "$cli" --quiet --settings-root "$work/s" "$dir/photo 1.jpg" --save "$dir/photo 1.gif"
done
cmp -s "$out/photo 1.gif" "$out2/photo 1.gif" || fail "the transferred run made another picture"
echo "parallel over ssh: $total photographs, 2 hosts, 4 slices: ok"
