#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The libFuzzer targets of tests/fuzz, built with clang in build-fuzz.
#
#   scripts/fuzz.sh --smoke [RUNS]   build them all and run each RUNS times (default 2000)
#                                    over its committed seeds; fails on any finding
#   scripts/fuzz.sh TARGET SECONDS   run one for longer; new inputs go to
#                                    build-fuzz/corpus/TARGET, findings to build-fuzz/findings
#   scripts/fuzz.sh --campaign MINUTES [JOBS]
#                                    every target for MINUTES each, JOBS at a time (default
#                                    1); corpora grow in build-fuzz/corpus, every finding of
#                                    every target lands in build-fuzz/findings, and a table
#                                    of executions per target is written to
#                                    build-fuzz/campaign.txt; fails when anything was found
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=build-fuzz

build() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
        -DTELMAR_FUZZ=ON -DTELMAR_BUILD_GUI=OFF -DTELMAR_BUILD_TESTS=OFF >/dev/null
    cmake --build "$dir" -j "$(nproc)" --target telmar_fuzzers
}

targets() {
    find "$dir/bin" -maxdepth 1 -name 'fuzz_*' -type f -perm -u+x -printf '%f\n' | sort
}

# run TARGET OUTPUT_CORPUS libFuzzer-options...
run() {
    local name=$1 out=$2
    shift 2
    mkdir -p "$out" "$dir/findings"
    "$dir/bin/$name" "$out" "$root/tests/fuzz/corpus/$name" -seed=1 -timeout=10 \
        -rss_limit_mb=1024 -max_len=4096 -artifact_prefix="$dir/findings/$name-" "$@"
}

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

case "${1:-}" in
--smoke)
    runs=${2:-2000}
    build
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    for name in $(targets); do
        if run "$name" "$scratch/$name" -runs="$runs" >"$scratch/$name.log" 2>&1; then
            echo "fuzz: $name: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$scratch/$name.log")"
        else
            tail -n 40 "$scratch/$name.log"
            echo "fuzz: $name found a fault; the input is in $dir/findings/" >&2
            exit 1
        fi
    done
    ;;
--campaign)
    minutes=${2:?how many minutes per target}
    jobs=${3:-1}
    build
    mkdir -p "$dir/logs"
    rm -f "$dir/findings"/* 2>/dev/null || true
    targets | xargs -P "$jobs" -I{} bash -c '
        "$0" --one {} "$1" >"$2/logs/{}.log" 2>&1 || true' "$0" "$((minutes * 60))" "$dir"
    {
        printf '%-22s %12s %8s\n' target executions findings
        for name in $(targets); do
            execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/logs/$name.log" |
                grep -o '[0-9]*$' || echo 0)
            found=$(find "$dir/findings" -name "$name-*" 2>/dev/null | wc -l)
            printf '%-22s %12s %8s\n' "$name" "${execs:-0}" "$found"
        done
    } | tee "$dir/campaign.txt"
    [ -z "$(ls -A "$dir/findings" 2>/dev/null)" ]
    ;;
--one) # used by --campaign: a target already built, for SECONDS
    run "$2" "$dir/corpus/$2" -max_total_time="$3" -print_final_stats=1
    ;;
'' | -h | --help)
    sed -n '3,15p' "$0"
    ;;
*)
    name=$1
    seconds=${2:?how many seconds}
    build
    run "$name" "$dir/corpus/$name" -max_total_time="$seconds" -print_final_stats=1
    ;;
esac
