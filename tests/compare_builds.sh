#!/usr/bin/env bash
# Runs two builds of wavproc on the example and on RUNS generated runs (records of many lengths and
# sampling intervals, numbers of every form, each polarity, filter, integration, cut and skip
# choice) and compares everything each run leaves, byte for byte: console text, standard error,
# exit status and every file. Ends with status 1 at the first run that differs.
# usage: tests/compare_builds.sh WAVPROC_A WAVPROC_B [RUNS]   (KEEP=DIR keeps the runs in DIR)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
a=$(realpath "$1")
b=$(realpath "$2")
runs=${3:-300}
work=${KEEP:-$(mktemp -d)}
mkdir -p "$work"
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT

# Writes record.txt and answers.txt of run $1 into folder $2; awk's own generator, seeded by the
# run number, so both builds read the same files.
make_run() {
  awk -v run="$1" -v dir="$2" '
    function pick(n) { return int(rand() * n) }
    BEGIN {
      srand(run)
      split("2 3 4 5 8 9 31 64 100 257 1000 1024 2049 4000 4096 4097 8192 12345 16384 32768", lengths, " ")
      nt = run % 3 ? lengths[1 + pick(20)] : 2 + pick(20000)
      split("0.01 0.005 0.02 0.001 0.0123 0.1", steps, " ")
      dt = steps[1 + pick(6)]
      scale = 10 ^ (pick(9) - 4)
      digits = 3 + pick(6)
      sep = pick(2) ? " " : ","
      rec = dir "/record.txt"
      print (pick(2) ? "time NS EW" : "t,N-S-comp,E-W-comp") > rec
      fe = "%.4f" sep "%." digits "E" sep "%." digits "g\n"
      ff = "%.4f" sep "%." digits "g" sep "%." digits "f\n"
      f1 = 0.2 + rand() * 20; f2 = 0.1 + rand() * 30
      for (i = 0; i < nt; i++) {
        t = i * dt
        x1 = scale * (sin(6.283185307 * f1 * t) + rand() - 0.5)
        x2 = scale * (cos(6.283185307 * f2 * t) * (rand() - 0.5))
        printf (pick(4) ? ff : fe), t, x1, x2 > rec
      }
      ans = dir "/answers.txt"
      print "record.txt" > ans
      if (pick(4) == 0) { print 1 > ans; print pick(2) > ans; print pick(2) > ans; print pick(2) > ans }
      else print 0 > ans
      nyquist = 0.5 / dt
      if (pick(2)) {
        print 1 > ans
        l1 = rand() * nyquist * 0.1; l2 = l1 + rand() * nyquist * 0.1
        h1 = l2 + rand() * nyquist * 0.6; h2 = h1 + rand() * nyquist * 0.3
        printf "%.3f %.3f %.3f %.3f\n", l1, l2, h1, h2 > ans
      } else print 0 > ans
      print run % 4 > ans
      if (pick(3) == 0) { print 1 > ans; printf "%.3f\n", rand() * nt * dt * 0.5 > ans; printf "%.3f\n", rand() * nt * dt > ans }
      else print 0 > ans
      print pick(4) > ans
      print "out.csv" > ans
      print "" > ans
    }'
}

# Runs build $1 in a fresh copy of folder $2 named $3.
run_in() {
  rm -rf "$3"
  cp -r "$2" "$3"
  (cd "$3" && set +e && "$1" <answers.txt >console.txt 2>stderr.txt; echo "$?" >status.txt)
}

compare() {
  local name=$1 input=$2
  run_in "$a" "$input" "$work/a/$name"
  run_in "$b" "$input" "$work/b/$name"
  if ! diff -r "$work/a/$name" "$work/b/$name" >/dev/null; then
    echo "compare_builds: $name differs between $a and $b (inputs in $input)" >&2
    diff -r "$work/a/$name" "$work/b/$name" | head -n 20 >&2
    trap - EXIT
    exit 1
  fi
}

mkdir -p "$work/in/example" "$work/a" "$work/b"
cp "$here/examples/record.txt" "$here/examples/answers.txt" "$work/in/example/"
compare example "$work/in/example"
for ((run = 1; run <= runs; run++)); do
  mkdir -p "$work/in/run$run"
  make_run "$run" "$work/in/run$run"
  compare "run$run" "$work/in/run$run"
done
echo "compare_builds: the example and $runs generated runs give the same bytes"
