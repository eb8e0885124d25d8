#!/usr/bin/env bash
# The cost per record of wavproc-batch against the plain loop it replaces.
#
# Usage: bench/batch.sh BUILD_DIR [ROUNDS [RECORDS [ROWS]]]
#   BUILD_DIR  a build folder holding wavproc (cmake --build BUILD_DIR --target wavproc)
#   ROUNDS     rounds of one timed run of each side (default 5)
#   RECORDS    records of the batch (default 200), each of ROWS rows (default 4000), written by
#              examples/make_record.py
# Needs hyperfine and python3 (Debian: apt-get install hyperfine python3).
#
# The two sides do the same runs with the same answers (examples/answers.txt, each naming its
# record and a waveform file of its own):
#   plain loop     for each record, wavproc < its answers, one at a time, each run waiting for its
#                  files to reach the disk (the default)
#   wavproc-batch  wavproc-batch -j 2 into a fresh results folder: runs without the wait, two at a
#                  time, one flush of the folder at the end, the logs and the summary
# The rounds alternate the sides, so that a machine busy with other work weighs on both alike; the
# ratio is the median over the rounds of batch / loop. It prints the cost per record of each side
# and whether the target is met: the batch at most half the loop's time per record.
# Exit status: 0 when the target is met, 1 when not, 2 when something is missing.
set -euo pipefail

build=$(cd "${1:?usage: bench/batch.sh BUILD_DIR [ROUNDS [RECORDS [ROWS]]]}" && pwd)
rounds=${2:-5}
count=${3:-200}
rows=${4:-4000}
here=$(cd "$(dirname "$0")" && pwd)
wavproc=$build/wavproc
batch=$here/../batch/wavproc-batch
[[ -x $wavproc ]] || { echo "batch.sh: $wavproc is missing; build the target wavproc first" >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "batch.sh: hyperfine is not installed (Debian: hyperfine)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/data" "$work/loop"
python3 "$here/../examples/make_record.py" "$rows" > "$work/data/r0.txt"
for ((i = 1; i < count; i++)); do cp "$work/data/r0.txt" "$work/data/r$i.txt"; done
# The batch copies each record under the answers' input name; the loop names each record itself.
sed 's/^velocity\.csv$/wave.csv/' "$here/../examples/answers.txt" > "$work/answers.txt"
for ((i = 0; i < count; i++)); do
  sed "1s|.*|../data/r$i.txt|; s/^wave\\.csv\$/r$i.csv/" "$work/answers.txt" > "$work/loop/a$i.txt"
done
loop="cd '$work/loop' && for a in a*.txt; do '$wavproc' < \"\$a\" > /dev/null; done"
batched="cd '$work' && WAVPROC='$wavproc' bash '$batch' -j 2 answers.txt results data/*.txt > /dev/null"

ratios=()
for ((round = 0; round < rounds; round++)); do
  hyperfine --style none --runs 1 --export-json "$work/round.json" \
    --prepare "rm -rf '$work/results'" -n loop "$loop" -n batch "$batched" > /dev/null
  ratios+=("$(python3 -c '
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print(r["loop"] / int(sys.argv[2]) * 1e3, r["batch"] / int(sys.argv[2]) * 1e3)' "$work/round.json" "$count")")
done
python3 - "$count" "$rows" "${ratios[@]}" <<'PYTHON'
import statistics
import sys

count, rows = int(sys.argv[1]), int(sys.argv[2])
pairs = [tuple(map(float, s.split())) for s in sys.argv[3:]]
loop = statistics.median(p[0] for p in pairs)
batch = statistics.median(p[1] for p in pairs)
ratio = statistics.median(p[1] / p[0] for p in pairs)
print(f"{count} records of {rows} rows, {len(pairs)} alternating rounds (medians; a busy machine makes them noisy)")
print(f"plain loop, each run syncing      {loop:8.2f} ms per record")
print(f"wavproc-batch -j 2                {batch:8.2f} ms per record")
met = ratio <= 0.5
print(f"batch / loop per record           {ratio:8.2f}   target at most 0.50   {'met' if met else 'NOT MET'}")
sys.exit(0 if met else 1)
PYTHON
