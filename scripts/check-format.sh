#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fails when a C++ file differs from .clang-format. Usage: check-format.sh [FILE...]
# (default: every C++ file git tracks).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
    set -- "${files[@]}"
fi
clang-format --style=file:"$PWD/.clang-format" --dry-run -Werror "$@"
