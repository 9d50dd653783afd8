#!/usr/bin/env bash
# Runs each libFuzzer harness for a bounded time.
#   fuzz/run.sh BIN_DIR SECONDS HARNESS...
# Corpora grow in fuzz/corpus/<harness>/ (not in git) from the seeds in
# fuzz/seeds/<harness>/; crashing inputs land in BIN_DIR/artifacts/.
# Exits non-zero when any harness found a fault.
set -uo pipefail
bin=$1 seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$bin/artifacts" "$bin/logs"
status=0
for h in "$@"; do
  corpus=$here/corpus/$h
  mkdir -p "$corpus"
  seeds=()
  [ -d "$here/seeds/$h" ] && seeds=("$here/seeds/$h")
  # -timeout: one input running longer than 10 s counts as a hang.
  "$bin/$h" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$bin/artifacts/$h-" >"$bin/logs/$h.log" 2>&1
  rc=$?
  runs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$bin/logs/$h.log" | grep -o '[0-9]*$')
  cov=$(grep -ao 'cov: [0-9]*' "$bin/logs/$h.log" | tail -1)
  if [ $rc -eq 0 ]; then
    echo "fuzz $h: ${runs:-?} runs in ${seconds}s, $cov, no findings"
  else
    echo "fuzz $h: FAILED (exit $rc); see $bin/logs/$h.log and $bin/artifacts/"
    tail -n 40 "$bin/logs/$h.log"
    status=1
  fi
done
exit $status
