#!/usr/bin/env bash
# Builds the plug-in and runs the whole test suite twice: a release build (then installed and packaged),
# then a build with AddressSanitizer and UndefinedBehaviorSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
# The release build users make, installed under /usr by the packages.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKLVR_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")
# Installed into a scratch root and packaged: C hosts, runs without the dialog module, Debian packages.
bash scripts/check-install.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKLVR_SANITIZE=ON -DKLVR_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:suppressions="$PWD/tests/asan.supp"
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$jobs")

# A short fuzz run of the FTP client's parsers and of whole client sessions (a longer one is described
# in fuzz/README.md).
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang -DKLVR_FUZZ=ON -DKLVR_WITH_QT=OFF -DBUILD_TESTING=OFF -DKLVR_WERROR=ON >/dev/null
cmake --build build-fuzz --target klvr_fuzz -j "$jobs"
for target in fuzz_reply:15 fuzz_listing:15 fuzz_mlsd:15 fuzz_session:60; do
  seconds=${target#*:} target=${target%:*}
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus" && cp fuzz/corpus/$target/* "$corpus/"
  dict=()
  if [[ -f fuzz/$target.dict ]]; then dict=(-dict="fuzz/$target.dict"); fi
  mkdir -p build-fuzz/artifacts
  build-fuzz/fuzz/$target -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=30 \
    -artifact_prefix=build-fuzz/artifacts/ \
    "${dict[@]}" -print_final_stats=0 "$corpus" 2>&1 | tail -1
done
