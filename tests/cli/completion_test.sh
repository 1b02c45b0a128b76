#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The bash completion offers the commands, and exactly the settings and values that
# `telmarctl --help` lists. Usage: completion_test.sh COMPLETION_FILE TELMARCTL
set -u
completion=$1
telmarctl=$2

# bash-completion's helpers, reduced to what the completion uses.
_init_completion() {
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    cur=${words[cword]}
    prev=${words[cword - 1]}
}
_filedir() { COMPREPLY=(FILE); }
# shellcheck source=/dev/null
. "$completion"

failures=0
expect() { # expected words... -- command line words (the last is the one completed)
    local expected=() line=()
    while [[ $1 != -- ]]; do expected+=("$1"); shift; done
    shift
    line=("$@")
    COMP_WORDS=(telmarctl "${line[@]}")
    COMP_CWORD=${#line[@]}
    COMPREPLY=()
    _telmarctl
    local got="${COMPREPLY[*]}" want="${expected[*]}"
    if [[ $got != "$want" ]]; then
        echo "FAIL: telmarctl ${line[*]}<TAB>: got '$got', want '$want'"
        failures=$((failures + 1))
    fi
}

expect list status get set hpd update doctor -- ""
expect --report -- doctor --rep
expect FILE -- doctor --report ""
expect status -- --json st
expect --watch -- status --wa
expect usb sim replay -- --backend ""
expect fpga1 fpga2 -- update ""
expect FILE -- update fpga2 --image ""

# Every setting and its values as the program's help lists them.
settings=()
while read -r name values; do
    settings+=("$name")
    # shellcheck disable=SC2086
    expect ${values//|/ } -- --json set "$name" ""
done < <("$telmarctl" --help | sed -n '/^Settings:/,/^$/p' | sed '1d;$d')
[[ ${#settings[@]} -eq 8 ]] || { echo "FAIL: help lists ${#settings[@]} settings"; failures=$((failures + 1)); }
expect "${settings[@]}" -- get ""
expect "${settings[@]}" hpd -- set ""

if ((failures > 0)); then
    exit 1
fi
echo "completion: all cases pass"
