#!/usr/bin/env bash
# Builds the project and runs every test.
#   scripts/test.sh              release build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DQUELM_SANITIZE=ON -DQUELM_BUILD_BENCH=OFF)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

bash scripts/deps.sh test
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
# The archive suite also runs against a throwaway PostgreSQL server; here
# its cases must not be skipped.
export QUELM_TEST_REQUIRE_POSTGRES=1
bash scripts/with-postgres.sh ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300
