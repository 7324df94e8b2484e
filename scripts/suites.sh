# shellcheck shell=bash
# Sourced by scripts/test.sh and scripts/test-under-load.sh: the Release and the
# sanitizer builds and their ctest runs, so both scripts build and run them alike.
# Expects the repository root as the working directory.

suite_jobs=${suite_jobs:-2}
# The Release tests mostly wait on the serial timing of simulated sensors, not
# on the processor, so they run four at a time on two cores.
suite_test_jobs=${suite_test_jobs:-4}
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
        ctest --test-dir build-asan --output-on-failure -j"$suite_jobs" "$@"
}
