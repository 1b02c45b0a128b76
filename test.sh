#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test once, under AddressSanitizer +
# UndefinedBehaviorSanitizer, then a short run of every fuzz target. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
install_deps

jobs=$(nproc)

echo "== tree checks: include direction and format"
python3 scripts/check-layers.py
scripts/check-format.sh

# The Windows programs, which the Wine and zip tests run and pack.
echo "== Windows cross build"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
cmake --build build-windows -j "$jobs"

# The programs as they ship, which the .deb test packs; the tests are built once, below.
echo "== plain build of the programs"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTELMAR_BUILD_TESTS=OFF
cmake --build build -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build, and every test"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Line tables are all that a sanitizer's report needs, and they compile faster. The
# benchmarks, which no test runs, are built once, above.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DTELMAR_SANITIZE=ON -DTELMAR_BUILD_BENCH=OFF -DTELMAR_WINDOWS_BUILD_DIR="$PWD/build-windows" \
    -DTELMAR_PACKAGE_BUILD_DIR="$PWD/build"
cmake --build build-asan -j "$jobs"
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 300)

echo "== fuzz targets, a fixed number of runs each over their seeds"
scripts/fuzz.sh --smoke

echo "test.sh: all tests passed"
