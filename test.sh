#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test: once plain, once under
# AddressSanitizer + UndefinedBehaviorSanitizer, then a short run of every fuzz target.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
install_deps

jobs=$(nproc)

echo "== tree checks: include direction and format"
python3 scripts/check-layers.py
scripts/check-format.sh

build_and_test() { # dir, extra cmake args...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@"
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 300 ${CTEST_EXTRA:-})
}

# The Windows programs first: the Wine test of the plain run uses them.
echo "== Windows cross build"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
cmake --build build-windows -j "$jobs"

echo "== plain build and tests"
build_and_test build -DTELMAR_WINDOWS_BUILD_DIR="$PWD/build-windows"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The benchmarks are built once, by the plain build; no test runs them.
CTEST_EXTRA="-LE no-sanitize" build_and_test build-asan -DTELMAR_SANITIZE=ON -DTELMAR_BUILD_BENCH=OFF

echo "== fuzz targets, a fixed number of runs each over their seeds"
scripts/fuzz.sh --smoke

echo "test.sh: all tests passed"
