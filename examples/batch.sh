#!/usr/bin/env bash
# Runs wavproc over many records, several at a time, and tells how each run ended.
#
# Usage: batch.sh [-j JOBS] ANSWERS OUTDIR RECORD...
#
# ANSWERS are the answers of one run (as examples/answers.txt), used for every record; a record
# with an answers file of its own beside it (data/kobe.answers for data/kobe.txt) is run with that.
# The first answer is the input file name: each run has a fresh folder of its own under OUTDIR
# (every run writes amp2.csv under that one name), and the record is copied there under that name,
# so a record's own name may be of any length. After a run that ended with status 0, OUTDIR holds
# kobe.amp2.csv and kobe.<output name> for data/kobe.txt; for every record it holds kobe.log, the
# console text followed by standard error. OUTDIR/summary.txt (also shown) has one line per
# record, in the order given: the record, the exit status, and what it means.
#
# JOBS runs go at a time (default: the number of cores). WAVPROC names the program (default:
# wavproc on PATH, else build/wavproc of this source tree).
# Exit status: 0 when every run ended with 0, 1 when any did not, 2 when the call itself is wrong.
set -euo pipefail

# Shows the comment above on standard output (status 0) or, after a wrong call, on standard error.
usage() {
  if (($1 == 0)); then sed -n '4,17s/^# \{0,1\}//p' "$0"; else sed -n '4,17s/^# \{0,1\}//p' "$0" >&2; fi
  exit "$1"
}

jobs=$(nproc 2>/dev/null || echo 1)
while getopts 'j:h' opt; do
  case $opt in
    j) jobs=$OPTARG ;;
    h) usage 0 ;;
    *) usage 2 ;;
  esac
done
shift $((OPTIND - 1))
(($# >= 3)) || usage 2
[[ $jobs =~ ^[1-9][0-9]*$ ]] || usage 2
template=$1
outdir=$2
shift 2
records=("$@")

wavproc=${WAVPROC:-}
if [[ -z $wavproc ]]; then
  wavproc=$(command -v wavproc || echo "$(dirname "$0")/../build/wavproc")
fi
[[ -x $wavproc ]] || { echo "batch.sh: no program at $wavproc (set WAVPROC)" >&2; exit 2; }
wavproc=$(cd "$(dirname "$wavproc")" && pwd)/$(basename "$wavproc")

# The input name of an answers file: its first line as wavproc reads a file name (the first 30
# characters, trailing blanks dropped), which must be a plain name for the copy in the run folder.
input_name() {
  local line=''
  IFS= read -r line < "$1" || true
  line=${line%$'\r'}
  line=${line:0:30}
  line=${line%"${line##*[! ]}"}
  [[ -n $line && $line != */* && $line != . && $line != .. ]] || return 1
  printf '%s' "$line"
}

# The answers file of record $1: its own beside it, else the common one.
answers_of() {
  local own
  own="$(dirname -- "$1")/$(stem_of "$1").answers"
  if [[ -f $own ]]; then printf '%s' "$own"; else printf '%s' "$template"; fi
}

# The name the results of record $1 are given: its file name without the last extension.
stem_of() {
  local base=${1##*/}
  printf '%s' "${base%.*}"
}

# Everything is checked before the first run: the files, the answers and the names of the results.
[[ -f $template ]] || { echo "batch.sh: no answers file $template" >&2; exit 2; }
declare -A seen=()
for record in "${records[@]}"; do
  [[ -f $record ]] || { echo "batch.sh: no record $record" >&2; exit 2; }
  answers=$(answers_of "$record")
  input_name "$answers" >/dev/null ||
    { echo "batch.sh: the first line of $answers is not a plain file name" >&2; exit 2; }
  stem=$(stem_of "$record")
  [[ -n $stem && -z ${seen[$stem]:-} ]] ||
    { echo "batch.sh: $record and ${seen[$stem]:-another record} would give results of one name" >&2; exit 2; }
  seen[$stem]=$record
done

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
# The run folders and the summary lines of the runs, removed at the end whatever happens.
status_dir=$(mktemp -d "$outdir/.batch.XXXXXX")
trap 'rm -rf "$status_dir"' EXIT
# An interrupt (Ctrl-C) reaches the runs under way, which end with status 1, and stops xargs; the
# summary is still written, with "not finished" for the records whose run had not ended.
interrupted=0
trap 'interrupted=1' INT TERM

# shellcheck disable=SC2317  # run through xargs, which shellcheck cannot follow
# Runs record number $1 ($2) in a folder of its own and leaves its summary line in the status folder.
run_one() {
  local index=$1 record=$2 answers stem name work status note
  answers=$(answers_of "$record")
  stem=$(stem_of "$record")
  name=$(input_name "$answers")
  work=$(mktemp -d "$status_dir/run.XXXXXX")
  if ! cp -- "$record" "$work/$name"; then
    rm -rf -- "$work"
    printf '%s\t-\tnot run: the record could not be copied\n' "$record" > "$status_dir/$index"
    return
  fi
  # The outer redirection silences the shell's own note on a run that ended by a signal.
  { (cd "$work" && exec "$wavproc") < "$answers" > "$outdir/$stem.log" 2> "$work/.stderr"; } 2>/dev/null &&
    status=0 || status=$?
  cat "$work/.stderr" >> "$outdir/$stem.log"
  case $status in
    0)
      note=done:
      rm -f -- "$work/$name" "$work/.stderr"
      for file in "$work"/*; do
        [[ -f $file ]] || continue
        mv -- "$file" "$outdir/$stem.${file##*/}"
        note+=" $stem.${file##*/}"
      done
      ;;
    1)
      if grep -qx -e Interrupt -e Killed "$work/.stderr"; then
        note="stopped: $(head -n 1 "$work/.stderr")"
      else
        note="refused: $(grep '!!!!!' "$outdir/$stem.log" | tail -n 1 | sed 's/^ *//')"
      fi
      ;;
    134) note="fatal error: $(head -n 1 "$work/.stderr")" ;;
    *) note="ended with status $status" ;;
  esac
  rm -rf -- "$work"
  printf '%s\t%s\t%s\n' "$record" "$status" "$note" > "$status_dir/$index"
}
export -f run_one answers_of stem_of input_name
export template outdir status_dir wavproc

# shellcheck disable=SC2016  # the single quotes keep $1 and $2 for the shell that xargs starts
for i in "${!records[@]}"; do
  printf '%s\0%s\0' "$i" "${records[$i]}"
done | xargs -0 -n 2 -P "$jobs" bash -c 'set -uo pipefail; run_one "$1" "$2"' run_one |
  (trap '' INT TERM; exec cat) || true
# The cat above, deaf to the interrupt, ends only when the last run has closed its standard output:
# the runs under way are over even when xargs was stopped and could not wait for them.

: > "$outdir/summary.txt"
failed=0
for i in "${!records[@]}"; do
  if [[ -f $status_dir/$i ]]; then
    cat "$status_dir/$i" >> "$outdir/summary.txt"
    [[ $(cut -f 2 "$status_dir/$i") == 0 ]] || failed=1
  else
    printf '%s\t-\tnot finished\n' "${records[$i]}" >> "$outdir/summary.txt"
    failed=1
  fi
done
cat "$outdir/summary.txt"
((interrupted == 0)) || exit 130
exit "$failed"
