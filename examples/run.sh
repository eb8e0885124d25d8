#!/usr/bin/env bash
# Runs wavproc on the bundled example record in a fresh folder, with the answers in answers.txt
# (band-pass 0.1-0.2 to 20-25 Hz, one integration: acceleration to velocity, every second sample),
# then shows the head of both files it wrote.
#
# Usage: bash examples/run.sh [WAVPROC]
# Without WAVPROC it first builds the program in build/ of this source tree, which needs cmake,
# make and a C++20 compiler only (as root on Debian it installs them when they are missing).
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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/record.txt" "$work/"
cd "$work"
"$binary" < "$here/answers.txt"
echo
echo "== head of amp2.csv =="
head -n 6 amp2.csv
echo "== head of velocity.csv =="
head -n 6 velocity.csv
