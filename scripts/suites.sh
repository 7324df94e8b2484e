# shellcheck shell=bash
# Sourced by scripts/test.sh and scripts/test-under-load.sh: the Release and the
# sanitizer builds and their ctest runs, so both scripts build and run them alike.
# Expects the repository root as the working directory.

suite_jobs=${suite_jobs:-2}
# The tests mostly wait on the serial timing of simulated sensors and on the
# broker, not on the processor, so they run four at a time on two cores (the
# sanitizer build three at a time: it is slower per test).
suite_test_jobs=${suite_test_jobs:-4}
suite_sanitize_jobs=${suite_sanitize_jobs:-3}
suite_root=$(pwd)

step() { echo; echo "=== $* ==="; }

build_release() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
    cmake --build build -j"$suite_jobs"
}

run_release() {
    ctest --test-dir build --output-on-failure -j"$suite_test_jobs" "$@"
}

build_sanitize() {
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVQS_SANITIZE=ON
    cmake --build build-asan -j"$suite_jobs"
}

run_sanitize() {
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
    LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$suite_root/scripts/lsan.supp:print_suppressions=0} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        ctest --test-dir build-asan --output-on-failure -j"$suite_sanitize_jobs" "$@"
}

# Two CPU-bound processes that keep both cores busy while tests run, so a test
# that depends on the machine's pace fails. Stopped by stop_hogs (and at exit).
suite_hogs=()
start_hogs() {
    trap stop_hogs EXIT
    if command -v stress-ng >/dev/null 2>&1; then
        stress-ng --cpu 2 --quiet &
        suite_hogs+=($!)
        echo "load: stress-ng --cpu 2 running (pid ${suite_hogs[0]})"
    else
        for _ in 1 2; do
            (while :; do :; done) &
            suite_hogs+=($!)
        done
        echo "load: stress-ng not found; two shell busy-loops running (${suite_hogs[*]})"
    fi
}

stop_hogs() {
    for pid in "${suite_hogs[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${suite_hogs[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    suite_hogs=()
}
