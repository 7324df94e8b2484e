#!/usr/bin/env bash
# Runs the Windows-only code (Win32 serial port, CryptoAPI cipher) under Wine:
# built with mingw-w64, run in a private Wine prefix, talking to the sensor
# simulator on pseudo-terminals that the prefix maps as COM5 and COM12.
#   usage: tests/wine/run.sh <native build dir holding bin/vqs-sim>
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out="$build/wine"
sim="$build/bin/vqs-sim"
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=$(dirname "$WINE")/wineserver
mkdir -p "$out"

[ -x "$sim" ] || { echo "wine: $sim missing (build the native tree first)" >&2; exit 1; }
command -v "$cxx" >/dev/null || { echo "wine: $cxx missing (install g++-mingw-w64-x86-64)" >&2; exit 1; }

flags="-std=c++17 -Wall -Wextra -Werror -O2 -static -I$root/Qt_Common/vqs"
"$cxx" $flags -o "$out/wine_serial_test.exe" "$root/tests/wine/wine_serial_test.cpp" \
    "$root/Qt_Common/vqs/serialport_win32.cpp" "$root/Qt_Common/vqs/vqs_crc.cpp"
"$cxx" $flags -I"$root/Qt_Common/cipher" -o "$out/cipher_corpus.exe" "$root/tests/wine/cipher_corpus.cpp" \
    "$root/Qt_Common/cipher/cipher.cpp" "$root/Qt_Common/cipher/cipher_win32.cpp" "$root/Qt_Common/cipher/cipher_portable.cpp" -ladvapi32
g++ -std=c++17 -Wall -Wextra -Werror -O2 -I"$root/Qt_Common/cipher" -o "$out/cipher_corpus" "$root/tests/wine/cipher_corpus.cpp" \
    "$root/Qt_Common/cipher/cipher.cpp" "$root/Qt_Common/cipher/cipher_portable.cpp" -lnettle
"$cxx" $flags -I"$root/Qt_Common/recording" -o "$out/c_numbers.exe" "$root/tests/wine/c_numbers.cpp" \
    "$root/Qt_Common/recording/cformat.cpp"
echo "wine: built wine_serial_test.exe, c_numbers.exe and cipher_corpus (Windows and native)"

if [ ! -x "$WINE" ]; then
    echo "wine: SKIPPED - $WINE not installed, Windows code compiled but not run"
    exit 0
fi
export WINEPREFIX="$out/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
    for p in "${pids[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done
    "$WINESERVER" -k 2>/dev/null || true
}
trap cleanup EXIT
if ! timeout 120 "$WINE" wineboot -i >/dev/null 2>&1; then
    echo "wine: SKIPPED - Wine cannot start here (wineboot failed); Windows code compiled but not run"
    exit 0
fi

start_sim() {  # link path, then simulator options
    local link=$1; shift
    rm -f "$link"
    "$sim" --link "$link" "$@" >"$link.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -L "$link" ] && return 0; sleep 0.1; done
    echo "wine: simulator did not come up: $(cat "$link.log")" >&2
    return 1
}
start_sim "$out/tty-uart" --uart --fault truncheader=3@2 --fault noreply@3
start_sim "$out/tty-usb" --usb --fault truncheader=3@2 --fault noreply@3

# Ports are mapped through the registry; a cold start of the prefix picks them up.
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$out/tty-uart" /f >/dev/null
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM12 /t REG_SZ /d "$out/tty-usb" /f >/dev/null
"$WINESERVER" -w

status=0
"$WINE" "$out/wine_serial_test.exe" uart COM5 || status=1
"$WINE" "$out/wine_serial_test.exe" usb COM12 || status=1
"$WINE" "$out/wine_serial_test.exe" missing COM7 || status=1

# Run-file numbers under a decimal-comma locale.
"$WINE" "$out/c_numbers.exe" || status=1

# The CryptoAPI cipher against the portable one: every piece length 0..508, Latin-1 text.
"$out/cipher_corpus" "$out/corpus-portable.bin"
"$WINE" "$out/cipher_corpus.exe" "$out/corpus-cryptoapi.bin" || status=1
if cmp -s "$out/corpus-portable.bin" "$out/corpus-cryptoapi.bin"; then
    echo "ok   CryptoAPI records byte-identical to the portable cipher's (509 pieces, $(stat -c %s "$out/corpus-portable.bin") bytes)"
else
    echo "FAIL CryptoAPI and portable records differ" >&2
    status=1
fi
# The recorded vectors and the reader tool, in the same prefix.
if [ -f "$root/scripts/mingw-check-cipher.sh" ]; then
    sh "$root/scripts/mingw-check-cipher.sh" "$out/cipher" || status=1
fi
[ $status -eq 0 ] && echo "wine: all Windows checks passed" || echo "wine: FAILED" >&2
exit $status
