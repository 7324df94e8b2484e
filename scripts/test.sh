#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the Release build
# (its tests with both cores kept busy by two CPU-bound processes),
# the AddressSanitizer/UndefinedBehaviorSanitizer build, the Windows compile
# check and the fuzz targets. Exits non-zero on the first failure.
# shellcheck disable=SC2119 # the suite runners take extra ctest arguments; none here
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

jobs=2
fuzz_seconds=${VQS_FUZZ_SECONDS:-12}
suite_jobs=$jobs
# shellcheck source=scripts/suites.sh
. scripts/suites.sh

bash scripts/deps.sh

step "Release build and tests, with both cores kept busy"
build_release
# The Release tests wait on simulated serial timing, so they take as long with two
# CPU-bound processes beside them; a test that depends on the machine's pace fails here.
start_hogs
run_release
stop_hogs

step "Package: the .deb built, unpacked into a clean tree and started"
bash scripts/package-check.sh build

step "Sanitizer build and tests (ASan + UBSan)"
build_sanitize
run_sanitize

if [ -f scripts/mingw-check.sh ]; then
    step "Windows compile check (mingw-w64)"
    bash scripts/mingw-check.sh
fi

step "Windows serial port and CryptoAPI cipher under Wine"
bash tests/wine/run.sh build

if [ -d tests/fuzz ]; then
    step "Fuzz targets (${fuzz_seconds} s each)"
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVQS_FUZZ=ON
    # Every executable named fuzz_* that the fuzz configuration defines.
    targets=$(ninja -C build-fuzz -t targets all \
        | sed -n 's/^bin\/\(fuzz_[A-Za-z0-9_]*\): CXX_EXECUTABLE_LINKER.*$/\1/p' | sort -u)
    if [ -z "$targets" ]; then
        echo "test: tests/fuzz exists but defines no fuzz_* targets" >&2
        exit 1
    fi
    # shellcheck disable=SC2086
    cmake --build build-fuzz --target $targets -j"$jobs"
    for name in $targets; do
        exe="$root/build-fuzz/bin/$name"
        work=$(mktemp -d)
        corpus="$work/corpus"
        mkdir -p "$corpus"
        seeds="$root/tests/fuzz/corpus/${name#fuzz_}"
        [ -d "$seeds" ] && cp -r "$seeds/." "$corpus/"
        echo "--- $name"
        if ! (cd "$work" && "$exe" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
                -artifact_prefix="$work/" "$corpus"); then
            echo "test: $name found a failure; artifacts in $work" >&2
            exit 1
        fi
        rm -rf "$work"
    done
fi

step "All tests passed"
