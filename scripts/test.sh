#!/usr/bin/env bash
# Builds the plug-in and runs the whole test suite twice: a release build, then a build with
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKLVR_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:suppressions="$PWD/tests/asan.supp"
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$jobs")
