#!/bin/sh
# Compile-checks the Qt-free Windows code with mingw-w64 and links a small static driver
# that opens a COM port through it (run it under Wine or on Windows:
# vqs-serial-probe.exe COM5 [transport]). Extra Qt-free Windows sources may be passed as arguments.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
out=${MINGW_OUT:-$root/build-mingw}

if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "mingw-check: $cxx not found (install g++-mingw-w64-x86-64)" >&2
    exit 1
fi

mkdir -p "$out"
flags="-std=c++17 -Wall -Wextra -Werror -O2 -I$root/Qt_Common/vqs"
sources="$root/Qt_Common/vqs/serialport_win32.cpp $root/Qt_Common/vqs/vqs_crc.cpp $*"

objects=""
for src in $sources; do
    obj="$out/$(basename "$src" .cpp).o"
    "$cxx" $flags -c "$src" -o "$obj"
    objects="$objects $obj"
done

cat > "$out/serial_probe.cpp" <<'CPP'
// Opens a COM port with the settings of a transport, reports each step, and times one read.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "serialport.h"
#include "vqs_crc.h"

int main(int argc, char** argv) {
    const uint8_t digits[] = "123456789";
    if (crc16False(digits, 9) != 0x29B1) {
        std::printf("crc16False wrong\n");
        return 2;
    }
    if (argc < 2) {
        std::printf("usage: %s COMn [transport 0|1]\n", argv[0]);
        return 0;
    }
    const bool uart = argc > 2 && std::atoi(argv[2]) == 1;
    SerialPortSettings settings = uart ? SerialPortSettings{38400, 0, 40, 1000, 20, 100}
                                       : SerialPortSettings{115200, 100, 40, 100, 20, 100};
    char path[64];
    std::snprintf(path, sizeof(path), "\\\\.\\%s", argv[1]);
    auto port = createSerialPort();
    const SerialOpenResult result = port->open(path, settings);
    std::printf("open %s: %d\n", path, static_cast<int>(result));
    if (result != SerialOpenResult::Ok) return 1;
    uint8_t buffer[16];
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const long got = port->read(buffer, sizeof(buffer));
    QueryPerformanceCounter(&end);
    std::printf("read %ld bytes in %.1f ms\n", got,
                1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return port->close() ? 0 : 1;
}
CPP
"$cxx" $flags -c "$out/serial_probe.cpp" -o "$out/serial_probe.o"
"$cxx" -static -o "$out/vqs-serial-probe.exe" "$out/serial_probe.o" $objects

echo "mingw-check: OK - Windows serial port and checksum code compile with $cxx -Werror; driver $out/vqs-serial-probe.exe linked"
