#!/usr/bin/env bash
# Installs what is missing, builds, and starts the controller. Without a USB serial
# adapter on this machine it starts the demo instead: the same window with two
# simulated cards (arguments go to whichever program starts; see sablefold-demo --help).
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$(nproc)"

adapter_present() {
    compgen -G '/dev/ttyUSB*' >/dev/null || [ -d /dev/serial/by-id ]
}

if adapter_present; then
    exec "$build/sablefold-controller" "$@"
fi
echo "No USB serial adapter found: starting the demo with two simulated cards."
exec "$build/sablefold-demo" "$@"
