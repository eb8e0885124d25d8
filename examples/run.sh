#!/usr/bin/env bash
# Runs the built wavproc on the bundled example record in a fresh folder, with the answers in
# answers.txt (band-pass 0.1-0.2 to 20-25 Hz, one integration: acceleration to velocity, every
# second sample), then shows the head of both files it wrote.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=${1:-$here/../build/wavproc}
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
