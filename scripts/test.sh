#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test (unit and end-to-end).
# Window tests run under Xvfb. Set VANTIREL_TEST_LABEL=unit for the fast set only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
label_args=()
if [ -n "${VANTIREL_TEST_LABEL:-}" ]; then label_args=(-L "$VANTIREL_TEST_LABEL"); fi
ctest --test-dir build --output-on-failure --timeout 600 "${label_args[@]}"
