#!/usr/bin/env bash
# Builds the Release and the sanitizer suites, then runs them while two CPU-bound
# processes keep both cores busy, to catch tests that depend on the machine's pace.
#   scripts/test-under-load.sh [ROUNDS] [--release-only | --sanitize-only] [-- CTEST_ARGS...]
# ROUNDS (default 1) runs the chosen suites that many times; CTEST_ARGS go to every
# ctest run, e.g. `-- -R vqs_test_worker --repeat until-fail:5`. Every round runs even
# after a failure; the summary lists each run's result and wall time, and the exit
# status is non-zero when any run failed.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=1
suites=(release sanitize)
ctest_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --release-only) suites=(release) ;;
        --sanitize-only) suites=(sanitize) ;;
        --) shift; ctest_args=("$@"); break ;;
        -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
        *[!0-9]*|'') echo "test-under-load: unknown argument $1" >&2; exit 2 ;;
        *) rounds=$1 ;;
    esac
    shift
done
[ "$rounds" -ge 1 ] || { echo "test-under-load: ROUNDS must be at least 1" >&2; exit 2; }

# shellcheck source=scripts/suites.sh
. scripts/suites.sh

bash scripts/deps.sh

# Built before the load starts: the load is there for the tests, not the compiler.
for suite in "${suites[@]}"; do
    step "Build: $suite"
    "build_$suite"
done

trap 'exit 130' INT
trap 'exit 143' TERM
start_hogs

summary=()
failed=0
for round in $(seq "$rounds"); do
    for suite in "${suites[@]}"; do
        step "Round $round/$rounds: $suite suite under load"
        start=$(date +%s)
        if "run_$suite" "${ctest_args[@]}"; then result=passed; else result=FAILED; failed=1; fi
        summary+=("round $round $suite: $result in $(( $(date +%s) - start )) s")
    done
done

stop_hogs
step "Under load"
printf '%s\n' "${summary[@]}"
exit "$failed"
