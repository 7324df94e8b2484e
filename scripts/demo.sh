#!/usr/bin/env bash
# Installs what is missing, builds the demo (Release) and starts it: the program
# with two simulated sensors in its port list, no hardware needed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target vqs-demo -j2

program=build/demo/vqs-demo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display; starting under xvfb-run"
    exec xvfb-run -a "$program"
fi
exec "$program"
