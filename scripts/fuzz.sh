#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each on
# its seed corpus (tests/fuzz/corpus/<target>); any finding fails.
#   scripts/fuzz.sh              each target for about 20 seconds
#   scripts/fuzz.sh --runs N     each target for N executions
#   scripts/fuzz.sh ... TARGET   only that target
# New inputs the fuzzers find go to build-fuzz/corpus/<target>, findings to
# build-fuzz/<target>-crash-*; the seeds in the repository stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=20)
targets=(fuzz_datafile fuzz_reply fuzz_profile fuzz_searchdate fuzz_archive fuzz_deconvolve fuzz_wearerlist)
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) limit=(-runs="$2"); shift 2 ;;
    fuzz_*) targets=("$1"); shift ;;
    *) echo "usage: $0 [--runs N] [TARGET]" >&2; exit 2 ;;
  esac
done

bash scripts/deps.sh fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 "${launcher[@]}" \
  -DQUELM_FUZZ=ON -DQUELM_BUILD_TESTS=OFF -DQUELM_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  log="build-fuzz/$t.log"
  # -timeout: an input that takes seconds hangs somewhere; that is a finding.
  rc=0
  "build-fuzz/tests/fuzz/$t" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/$t-" \
    "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  echo "$t: $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$log" || echo 'no statistics')"
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$t: finding, exit $rc (input in build-fuzz/$t-*, log in $log)" >&2
    exit 1
  fi
done
