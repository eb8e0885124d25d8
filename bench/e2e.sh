#!/usr/bin/env bash
# End-to-end speed of whole wavproc runs, side by side with the I/O floors of the same record and
# with the same pipeline written with numpy.
#
# Usage: bench/e2e.sh BUILD_DIR [RUNS]
#   BUILD_DIR  a build folder holding wavproc, bench/io_floor and bench/run_in (this script builds
#              nothing: cmake --build BUILD_DIR --target wavproc io_floor run_in)
#   RUNS       timed runs of each command after 5 warm-up runs (default 30)
# Needs hyperfine and python3 (Debian: apt-get install hyperfine python3); the numpy peer is timed
# when a python3 with numpy is found (python3 on PATH, else /usr/bin/python3; Debian: python3-numpy).
#
# In a new temporary folder it writes a record of 32768 rows and one of 4000 rows (dt = 0.01 s,
# five significant digits), then times with hyperfine, in one session:
#   I/O floor, no syncs   bench/io_floor --no-sync reads the large record whole and writes two
#                         files of exactly the sizes that case (a) writes, in the same 64 KiB
#                         blocks and with the same whole-file replacement, without parsing or
#                         formatting, and renames them without waiting for the disk
#   I/O floor, synced     the same, each file put on the disk before its rename, as wavproc does
#   case (a), --no-sync   the large record: no polarity change, no filter, no integration, no
#                         cut, skip 0; wavproc --no-sync
#   case (a)              the same with wavproc's default: both files synced
#   case (b), --no-sync   the large record: band-pass 0.1-0.2 to 20-25 Hz and one integration
#   4000 rows             the small record, answered as case (a), wavproc --no-sync
#   numpy peer            bench/e2e/numpy_peer.py on the large record, as case (a); it syncs
#                         nothing, so it is set against wavproc --no-sync
# Every command starts through bench/run_in (chdir, standard input from a file, exec), so all
# carry the same start-up. It prints the medians, each case's peak resident memory (measured by
# run_in --peak-rss), then each target with its measured ratio and whether it is met, and leaves
# the hyperfine exports (e2e.json, e2e.md) in the temporary folder, whose name it prints.
# Exit status: 0 when every target is met, 1 when one is not, 2 when something is missing.
set -euo pipefail

build=$(cd "${1:?usage: bench/e2e.sh BUILD_DIR [RUNS]}" && pwd)
runs=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
wavproc=$build/wavproc
floor=$build/bench/io_floor
run_in=$build/bench/run_in

for program in "$wavproc" "$floor" "$run_in"; do
  if [[ ! -x $program ]]; then
    echo "e2e.sh: $program is missing; build the targets wavproc, io_floor and run_in first" >&2
    exit 2
  fi
done
if ! command -v hyperfine >/dev/null; then
  echo "e2e.sh: hyperfine is not installed (Debian: apt-get install hyperfine)" >&2
  exit 2
fi
# The peer needs numpy, which the first python3 on PATH may lack.
peer_python=
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import numpy' 2>/dev/null; then
    peer_python=$(command -v "$candidate")
    break
  fi
done

work=$(mktemp -d)
echo "inputs, outputs and exports in $work"
python3 "$here/e2e/make_record.py" 32768 > "$work/large.txt"
python3 "$here/e2e/make_record.py" 4000 > "$work/small.txt"

# One folder per command: each run of a command replaces the files its previous run wrote.
setup() {  # setup FOLDER RECORD ANSWERS
  mkdir -p "$work/$1"
  cp "$work/$2" "$work/$1/record.txt"
  cp "$here/e2e/$3" "$work/$1/answers.txt"
}
setup a large.txt answers_a.txt
setup b large.txt answers_b.txt
setup small small.txt answers_a.txt
mkdir -p "$work/floor" "$work/peer"
cp "$work/large.txt" "$work/floor/record.txt"
cp "$work/large.txt" "$work/peer/record.txt"

# A first run of each case shows that it works, and gives the sizes the floor has to write.
for case in a b small; do
  "$run_in" "$work/$case" answers.txt "$wavproc" --no-sync > /dev/null
done
amp_size=$(stat -c %s "$work/a/amp2.csv")
wave_size=$(stat -c %s "$work/a/wave.csv")

q() { printf "'%s'" "$1"; }
commands=(
  -n "I/O floor, no syncs" "$(q "$run_in") $(q "$work/floor") /dev/null $(q "$floor") --no-sync record.txt amp2.csv $amp_size wave.csv $wave_size"
  -n "I/O floor, synced" "$(q "$run_in") $(q "$work/floor") /dev/null $(q "$floor") record.txt amp2.csv $amp_size wave.csv $wave_size"
  -n "case (a), --no-sync" "$(q "$run_in") $(q "$work/a") answers.txt $(q "$wavproc") --no-sync"
  -n "case (a), synced" "$(q "$run_in") $(q "$work/a") answers.txt $(q "$wavproc")"
  -n "case (b), --no-sync" "$(q "$run_in") $(q "$work/b") answers.txt $(q "$wavproc") --no-sync"
  -n "4000 rows, --no-sync" "$(q "$run_in") $(q "$work/small") answers.txt $(q "$wavproc") --no-sync"
)
if [[ -n $peer_python ]]; then
  commands+=(-n "numpy peer, case (a)"
    "$(q "$run_in") $(q "$work/peer") /dev/null $(q "$peer_python") $(q "$here/e2e/numpy_peer.py") record.txt wave.csv")
fi
hyperfine --shell=none --style basic --warmup 5 --runs "$runs" \
  --export-json "$work/e2e.json" --export-markdown "$work/e2e.md" "${commands[@]}"

# Peak resident memory of one run of each case, from run_in as a small parent.
peaks=()
for case in a b small; do
  peaks+=("$("$run_in" --peak-rss "$work/$case" answers.txt "$wavproc" --no-sync)")
done

# The batch's own cost per record against the plain loop of syncing runs (its own script).
bash "$here/batch.sh" "$build" || true
echo

python3 - "$work/e2e.json" "${peaks[@]}" <<'PYTHON'
import json
import sys

results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
peaks = dict(zip(["case (a), --no-sync", "case (b), --no-sync", "4000 rows, --no-sync"], map(int, sys.argv[2:])))
median = {name: r["median"] * 1e3 for name, r in results.items()}
floor = median["I/O floor, no syncs"]
synced_floor = median["I/O floor, synced"]
case_a = median["case (a), --no-sync"]
synced_a = median["case (a), synced"]
case_b = median["case (b), --no-sync"]

print()
print("| command | median (ms) | min (ms) | peak RSS (KiB) |")
print("|---|---:|---:|---:|")
for name, r in results.items():
    print(f"| {name} | {median[name]:.2f} | {r['min'] * 1e3:.2f} | {peaks.get(name, '-')} |")
print()

missed = 0


def target(what, value, goal, met):
    global missed
    missed += not met
    print(f"{what:<38} {value:>8}   target {goal:<16} {'met' if met else 'NOT MET'}")


target("case (a) --no-sync / floor, no syncs", f"{case_a / floor:.2f}", "at most 6", case_a <= 6 * floor)
target("case (a) synced / floor, synced", f"{synced_a / synced_floor:.2f}", "at most 1.6", synced_a <= 1.6 * synced_floor)
target("case (b) / case (a), --no-sync", f"{case_b / case_a:.3f}", "at most 1.10", case_b <= 1.10 * case_a)
largest = max(peaks["case (a), --no-sync"], peaks["case (b), --no-sync"])
target("peak RSS of the 32768-row runs", f"{largest / 1024:.2f} MiB", "at most 8 MiB", largest <= 8 * 1024)
peer = median.get("numpy peer, case (a)")
if peer is None:
    print("numpy peer / case (a) --no-sync        not measured: no python3 with numpy (Debian: python3-numpy)")
else:
    target("numpy peer / case (a) --no-sync", f"{peer / case_a:.1f}", "at least 30", peer >= 30 * case_a)
print("all targets met" if missed == 0 else f"{missed} target(s) not met")
sys.exit(1 if missed else 0)
PYTHON
