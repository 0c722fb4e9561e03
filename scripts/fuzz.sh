#!/usr/bin/env bash
# make fuzz: builds the libFuzzer targets of fuzz/ (preset fuzz: clang,
# address and undefined-behaviour sanitizers) and runs each for a bounded
# time, starting from its seeds (fuzz/corpus/<target>/) and its kept inputs
# (fuzz/regressions/<target>/). The corpus grown meanwhile stays in
# build/fuzz/corpus/; an input that breaks a target is written to
# build/fuzz/findings/<target>/ and should go, once the fault is fixed, into
# fuzz/regressions/<target>/, which make test replays.
#   SKJK_FUZZ_SECONDS  time per target (default 60)
#   SKJK_FUZZ_TARGETS  the targets to run (default: all four)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${SKJK_FUZZ_SECONDS:-60}
targets=${SKJK_FUZZ_TARGETS:-protocol settings dialect import_line}
build=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build "$build" --target skjk_fuzzers

failed=()
for t in $targets; do
  corpus=$build/corpus/$t
  findings=$build/findings/$t
  mkdir -p "$corpus" "$findings"
  echo "fuzz: $t for ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" "$corpus" "fuzz/corpus/$t" "fuzz/regressions/$t" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 \
      >"$build/fuzz-$t.log" 2>&1; then
    failed+=("$t")
    echo "fuzz: $t FAILED; log $build/fuzz-$t.log, inputs in $findings/" >&2
    grep -E "ERROR|fuzz check failed|SUMMARY" "$build/fuzz-$t.log" | head -5 >&2 || true
  else
    grep -E "^stat::number_of_executed_units" "$build/fuzz-$t.log" |
      sed "s/^/fuzz: $t /" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all targets held"
