#!/usr/bin/env bash
# Runs wavproc on the bundled example record in a fresh folder, with the answers in answers.txt
# (band-pass 0.1-0.2 to 20-25 Hz, one integration: acceleration to velocity, every second sample),
# shows the head of both files it wrote, and compares the console text and both files with the
# bytes every correct build gives (examples/expected/); ends with status 1 if any differs. The run's
# files stay in build/example/ of this source tree (replaced at each run), ready for wavproc-plot.
#
# Usage: bash examples/run.sh [WAVPROC]
# Without WAVPROC it first builds the program in build/ of this source tree, which needs cmake,
# make, a C++20 compiler and the fast_float header (as root on Debian it installs them when they
# are missing).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=${1:-}
if [[ -z $binary ]]; then
  top=$(dirname "$here")
  bash "$top/.ci/packages.sh" build
  cmake -S "$top" -B "$top/build"
  cmake --build "$top/build" -j"$(nproc 2>/dev/null || echo 2)" --target wavproc
  binary=$top/build/wavproc
fi
# A bare name is a program on PATH; any other path is taken from where the script was called.
[[ $binary == */* ]] || binary=$(command -v "$binary")
binary=$(realpath "$binary")
work=$(dirname "$here")/build/example
rm -rf "$work"
mkdir -p "$work"
cp "$here/record.txt" "$work/"
cd "$work"
"$binary" < "$here/answers.txt" | tee console.txt
echo
echo "== head of amp2.csv =="
head -n 6 amp2.csv
echo "== head of velocity.csv =="
head -n 6 velocity.csv
echo
status=0
for file in console.txt amp2.csv velocity.csv; do
  if cmp -s "$file" "$here/expected/$file"; then
    echo "$file: the same bytes as examples/expected/$file"
  else
    echo "$file: DIFFERS from examples/expected/$file"
    status=1
  fi
done
echo
echo "The run's files are in $work:"
echo "  record.txt, console.txt (what the run showed), amp2.csv and velocity.csv."
echo "Draw them, from the top of the sources, with:"
echo "  plot/wavproc-plot build/example/velocity.csv build/example/amp2.csv"
exit "$status"
