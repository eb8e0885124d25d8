#!/usr/bin/env bash
# Runs the built wavproc on the bundled example record in a fresh folder, with the answers in
# answers.txt (band-pass 0.1-0.2 to 20-25 Hz, one integration: acceleration to velocity, every
# second sample), shows the head of both files it wrote, and compares the console text and both
# files with the bytes every correct build gives (examples/expected/); ends with status 1 if any differs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "${1:-$here/../build/wavproc}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
exit "$status"
