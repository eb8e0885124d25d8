#!/usr/bin/env bash
# Runs fuzz targets one after another for a given time each: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
# (default: every target). New inputs gather in BUILD_DIR/fuzz-corpus/<target>, next to the seeds of
# fuzz/corpus/<target>, so a later run goes on from there; findings are written to
# BUILD_DIR/fuzz-findings/. Extra libFuzzer flags come from FUZZ_FLAGS (such as -runs=10000000).
# Exits non-zero on the first finding.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
if ((${#targets[@]} == 0)); then targets=(fields_fuzz reader_fuzz run_fuzz import_fuzz); fi

findings=$build/fuzz-findings
mkdir -p "$findings"
for target in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$target
  mkdir -p "$corpus"
  log=$build/fuzz-$target.log
  echo "== $target: ${seconds}s (log: $log)"
  # -close_fd_mask=3 keeps the program's console text and fatal reports out of the log; the
  # fuzzer's own reports still reach it.
  status=0
  # shellcheck disable=SC2086
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -max_len=4096 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/$target-" ${FUZZ_FLAGS:-} \
    "$corpus" "$here/corpus/$target" >"$log" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
  if ((status != 0)); then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" || tail -n 20 "$log"
    echo "$target: finding (exit status $status), see $log" >&2
    exit 1
  fi
done
