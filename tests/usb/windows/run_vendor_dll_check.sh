#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-compiles the vendor-library backend with a stand-in library and runs it
# under Wine. Usage: run_vendor_dll_check.sh SOURCE_DIR
set -euo pipefail
src=$1
cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null && command -v wine >/dev/null || { echo "mingw-w64 or wine missing"; exit 77; }
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
here="$src/tests/usb/windows"
flags=(-std=c++20 -O1 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror
       -I"$src" -static -static-libgcc -static-libstdc++)
"$cxx" -shared -o "$work/fakevendor.dll" "$here/FakeVendorLibrary.cpp" "$here/FakeVendorLibrary.def" \
    -static-libgcc -static-libstdc++
"$cxx" "${flags[@]}" -o "$work/check.exe" "$here/VendorDllDriverCheck.cpp" "$src/usb/VendorDllDriver.cpp"
# TMPDIR: wineserver's socket folder goes with the work folder.
export WINEPREFIX="$work/prefix" TMPDIR="$work" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A copy of the prefix CTest booted for the Wine tests, when there is one; else Wine boots
# one.
python3 "$src/tests/windows/winetest.py" --clone "$WINEPREFIX" || true
cd "$work"
timeout 150 wine ./check.exe
