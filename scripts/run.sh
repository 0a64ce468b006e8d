#!/usr/bin/env bash
# Installs what is missing, builds, and opens the receiver window (the simulated world when no
# dongle is attached). Extra arguments go to the window, e.g. --source sim.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTIREL_BUILD_TESTS=OFF -DVANTIREL_BUILD_BENCH=OFF
cmake --build build --target OrvelleApp vantirel-cli
exec ./build/app/vantirel "$@"
