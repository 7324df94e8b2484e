#!/usr/bin/env bash
# Builds the .deb with CPack, unpacks it into a clean directory tree (or installs it
# with dpkg when given --dpkg, as root in CI), and checks what a user meets first:
# the installed program starts offscreen through its per-user launcher, stays up and
# writes its log; the demo lists its simulated sensors; vqs-sim answers --help;
# vqs-decrypt deciphers a file; vqs-ctl answers --help and lists ports as JSON.
#   scripts/package-check.sh [--dpkg] [BUILD_DIR]     (default BUILD_DIR: build-package)
# An existing build directory is reused as configured (scripts/test.sh passes its
# Release build); a new one is configured Release without tests.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

use_dpkg=0
build="build-package"
for arg in "$@"; do
    case "$arg" in
        --dpkg) use_dpkg=1 ;;
        -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
        *) build=$arg ;;
    esac
done
case "$build" in /*) ;; *) build="$src/$build" ;; esac

fail() { echo "package-check: FAIL: $*" >&2; exit 1; }
note() { echo "package-check: $*"; }

# CPack's dependency scan needs dpkg-shlibdeps (dpkg-dev) and file.
for tool in cmake cpack dpkg-deb dpkg-shlibdeps file; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool not found (apt-get install cmake dpkg-dev file)"
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQS_BUILD_TESTS=OFF \
        -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
fi
targets="vqs-sensor-interface vqs-sim vqs-decrypt vqs-ctl"
if ninja -C "$build" -t targets all 2>/dev/null | grep -q '^vqs-demo:'; then
    targets="$targets vqs-demo"
fi
# shellcheck disable=SC2086
cmake --build "$build" --target $targets -j2

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -n 1 || true)
[ -n "$deb" ] || fail "cpack made no .deb"
note "built $(basename "$deb")"
dpkg-deb --info "$deb" >/dev/null || fail "dpkg-deb cannot read $deb"
note "Depends: $(dpkg-deb -f "$deb" Depends)"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/vqs-sensor-interface ./usr/bin/vqs-sim ./usr/bin/vqs-decrypt ./usr/bin/vqs-ctl \
            ./usr/lib/vqs-sensor-interface/vqs-sensor-interface \
            ./usr/share/applications/vqs-sensor-interface.desktop \
            ./usr/share/icons/hicolor/scalable/apps/vqs-sensor-interface.svg \
            ./usr/lib/udev/rules.d/60-vqs-sensor.rules; do
    grep -qxF "$path" <<<"$contents" || fail "$path missing from the package"
done
has_demo=0
grep -qxF ./usr/bin/vqs-demo <<<"$contents" && has_demo=1

if [ "$use_dpkg" = 1 ]; then
    [ "$(id -u)" = 0 ] || fail "--dpkg needs root"
    dpkg -i "$deb" || { apt-get install -f -y; dpkg -i "$deb"; } || fail "dpkg -i"
    root=""
else
    root="$work/root"
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
fi
bin="$root/usr/bin"

# A fresh user: nothing of an earlier run may help.
export HOME="$work/home"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Starts a launcher offscreen, waits until its log holds `expect`, checks that it is
# still running a while later, then stops it.
start_program() {
    local name=$1 expect=$2
    local dir="$XDG_DATA_HOME/$name"
    QT_QPA_PLATFORM=offscreen "$bin/$name" >"$work/$name.out" 2>&1 &
    local pid=$!
    pids+=("$pid")
    local log="" waited=0
    while [ "$waited" -lt 200 ]; do
        log=$(ls "$dir"/log/log_*.txt 2>/dev/null | head -n 1 || true)
        if [ -n "$log" ] && grep -qF "$expect" "$log"; then break; fi
        kill -0 "$pid" 2>/dev/null || { cat "$work/$name.out" >&2; fail "$name exited early"; }
        sleep 0.1
        waited=$((waited + 1))
    done
    [ -n "$log" ] || { cat "$work/$name.out" >&2; fail "$name wrote no log under $dir/log"; }
    grep -qF "$expect" "$log" || { cat "$log" >&2; fail "$name: no \"$expect\" in its log"; }
    sleep 2
    kill -0 "$pid" 2>/dev/null || { cat "$work/$name.out" >&2; fail "$name did not stay up"; }
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    for sub in TempData enc log; do
        [ -d "$dir/$sub" ] || fail "$name made no $sub directory in $dir"
    done
    note "$name started through its launcher, stayed up, logged to ${log#"$work"/}"
}

start_program vqs-sensor-interface "Info: VQS Sensor Interface 1.8.0.3 started"
for f in ondiskfw.bin ondiskfwv.bin stm32flash; do
    [ ! -e "$XDG_DATA_HOME/vqs-sensor-interface/$f" ] || fail "the plain program's directory holds $f"
done
if [ "$has_demo" = 1 ]; then
    start_program vqs-demo "Demo: simulated USB sensor"
    grep -qF "Demo: simulated UART sensor" "$XDG_DATA_HOME"/vqs-demo/log/log_*.txt || fail "demo: no UART sensor"
    [ -f "$XDG_DATA_HOME/vqs-demo/ondiskfwv.bin" ] || fail "demo placed no firmware version file"
fi

"$bin/vqs-sim" --help >"$work/sim-help.txt" 2>&1 || fail "vqs-sim --help exited non-zero"
grep -qi "usage" "$work/sim-help.txt" || fail "vqs-sim --help printed no usage"
note "vqs-sim --help answers"

# One record of "abc\n" enciphered with a test pass phrase (key: SHA-1 of the
# phrase, first 16 bytes; RC4 over the length word, then over the text).
printf '\x56\x21\x0c\xfe\x33\x43\x6f\xf4' >"$work/record.enc"
phrase='0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-'
"$bin/vqs-decrypt" --pass-phrase "$phrase" "$work/record.enc" >"$work/plain.txt" || fail "vqs-decrypt exited non-zero"
[ "$(cat "$work/plain.txt")" = "abc" ] || fail "vqs-decrypt printed '$(cat "$work/plain.txt")' instead of 'abc'"
note "vqs-decrypt deciphers a record"

"$bin/vqs-ctl" --help >"$work/ctl-help.txt" 2>&1 || fail "vqs-ctl --help exited non-zero"
grep -qF "Exit codes:" "$work/ctl-help.txt" || fail "vqs-ctl --help printed no exit codes"
"$bin/vqs-ctl" list --json >"$work/ctl-list.json" || fail "vqs-ctl list exited non-zero"
grep -q '^\[' "$work/ctl-list.json" || fail "vqs-ctl list --json printed no JSON array"
note "vqs-ctl answers --help and lists ports"

if [ "$use_dpkg" = 1 ]; then
    dpkg -r vqs-sensor-interface >/dev/null || fail "dpkg -r"
fi
note "OK"
