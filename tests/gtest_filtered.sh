#!/usr/bin/env bash
# Runs a test program for a ctest entry that owns part of it, within the caller's GTEST_FILTER:
#   gtest_filtered.sh --without TEST COMMAND...  the caller's filter, less the tests named *TEST
#   gtest_filtered.sh --only TEST COMMAND...     the tests named *TEST, if the caller's filter selects them
set -euo pipefail
mode=$1 test=$2
shift 2
filter=${GTEST_FILTER:-*}
if [ "$mode" = --without ]; then
  case $filter in *-*) filter="$filter:*$test" ;; *) filter="$filter-*$test" ;; esac
elif ! GTEST_FILTER=$filter "$@" --gtest_list_tests | tr -d '\r' | grep -q "^  $test\$"; then
  echo "[  SKIPPED ] $test: not selected by GTEST_FILTER=$filter"
  exit 0
else
  filter="*$test"
fi
GTEST_FILTER=$filter exec "$@"
