#!/usr/bin/env bash
# Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded tests
# under ThreadSanitizer. Separate build folders so the normal build is untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
common=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTIREL_BUILD_APP=OFF -DVANTIREL_BUILD_BENCH=OFF)

cmake -S . -B build-asan "${common[@]}" -DVANTIREL_SANITIZE="address;undefined"
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -L unit --timeout 600

# The threaded subsystems: platform queues, controller, rings, RDS, audio, ADS-B, APRS, feeds
# (ADS-B, KISS, rigctl, MQTT), rtl_tcp, DAB.
cmake -S . -B build-tsan "${common[@]}" -DVANTIREL_SANITIZE=thread
cmake --build build-tsan --target test_platform test_control test_device test_rds test_audio test_adsb test_aprs test_feeds test_dab
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan --output-on-failure -L unit --timeout 600 \
        -R "MainQueue|SerialQueue|ControllerFixture|Stations|IQBuffer|IQChunkQueue|RTLSDRDevice|RDS|AudioOutput|NullAudioSink|IQRecorder|FFTAnalyzer|ADSB|APRS|Feed|DABStreamSession|RtlTcp|Rigctl|KISS|MQTT"
