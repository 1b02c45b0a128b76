#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""`telmarctl --json status` against docs/telmarctl-status.schema.json, on a private
simulated box: every scenario, then random status blocks (`telmar-sim scenario --file`),
some with an InfoFrame header so the payload decoders see random payloads. For each
input `status --details` must also succeed with printable text only.

    status_schema_test.py --telmarctl PATH --telmar-sim PATH --schema PATH
"""
import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import time

import jsonschema

DEADLINE = time.monotonic() + 150
ROUNDS = 40
# Block number: the InfoFrame header (type, version, length) its payload follows.
HEADERS = {12: [0x82, 0x02, 0x0D], 13: [0x83, 0x01, 0x19], 14: [0x87, 0x01, 0x1A], 15: []}
UNPRINTABLE = re.compile("[\x00-\x09\x0b-\x1f\x7f-\x9f]")


def run(args, env, seconds=15):
    left = DEADLINE - time.monotonic()
    if left <= 0:
        sys.exit("FAIL: out of time")
    r = subprocess.run(args, env=env, capture_output=True, timeout=min(seconds, left))
    return r.returncode, r.stdout.decode("utf-8"), r.stderr.decode("utf-8", "replace")


def main():
    parser = argparse.ArgumentParser()
    for name in ("--telmarctl", "--telmar-sim", "--schema"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    with open(args.schema, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    with tempfile.TemporaryDirectory() as folder:
        socket = os.path.join(folder, "sim.sock")
        env = dict(os.environ, TELMAR_SIM_SOCKET=socket, TELMAR_USB_BACKEND="sim")
        sim = subprocess.Popen([args.telmar_sim, "serve", "--socket", socket, "--delay-ms", "1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            line = sim.stdout.readline().decode()
            if "serving on" not in line:
                sys.exit(f"FAIL: telmar-sim did not start: {line!r}")
            failures = check_all(args, env, validator)
        finally:
            sim.terminate()
            try:
                sim.wait(10)
            except subprocess.TimeoutExpired:
                sim.kill()
    for f in failures[:20]:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


def check_all(args, env, validator):
    sim = [args.telmar_sim]
    telmarctl = [args.telmarctl, "--backend", "sim"]
    failures = []

    def check(what):
        code, out, err = run(telmarctl + ["--json", "status"], env)
        if code != 0:
            failures.append(f"{what}: --json status exit code {code}: {err}")
            return None
        status = json.loads(out)
        error = jsonschema.exceptions.best_match(validator.iter_errors(status))
        if error is not None:
            failures.append(f"{what}: /{'/'.join(map(str, error.absolute_path))}: "
                            f"{error.message[:200]}")
        code, out, err = run(telmarctl + ["status", "--details"], env)
        if code != 0 or UNPRINTABLE.search(out) or "\nRaw\nBlock 11: " not in out:
            failures.append(f"{what}: status --details exit code {code}: {out!r} {err}")
        return status

    _, listing, _ = run(sim + ["scenarios"], env)
    scenarios = [line.split()[0] for line in listing.splitlines() if line.split()[0] != "demo"]
    if len(scenarios) < 10:
        failures.append(f"too few scenarios: {listing!r}")
    for name in scenarios:
        run(sim + ["scenario", name], env)
        status = check(name)
        if status is None:
            continue
        present = name != "no-input"
        if status["input"]["present"] != present or (status["lines"]["input"] != "") != present:
            failures.append(f"{name}: input present {status['input']} {status['lines']}")
        if present and not isinstance(status["details"]["hdr"]["present"], bool):
            failures.append(f"{name}: no HDR section")
        # A frame of zeros (an SDR source's) carries no values: null, never 0.
        hdr = status["details"]["hdr"] if present else {}
        if any(type(hdr.get(k + "_cd_m2")) in (int, float) and hdr[k + "_cd_m2"] == 0
               for k in ("max_luminance", "min_luminance", "max_cll", "max_fall")):
            failures.append(f"{name}: 0 for an unknown HDR value: {hdr}")
        if name == "4k60-hdr" and not isinstance(hdr["max_cll_cd_m2"], int):
            failures.append(f"{name}: MaxCLL is not a number: {status['details']['hdr']}")

    rng = random.Random(int(os.environ.get("TELMAR_TEST_SEED", "22")))
    blocks_file = os.path.join(os.path.dirname(env["TELMAR_SIM_SOCKET"]), "blocks.txt")
    for round_ in range(ROUNDS):
        lines = []
        for block in range(11, 16):
            data = [rng.randrange(256) for _ in range(rng.randrange(64))]
            # Mostly the block number the box echoes, so the read succeeds.
            head = [block] + HEADERS.get(block, []) if rng.random() < 0.8 else []
            data = (head + data)[:63]
            if block == 11 and len(data) > 5 and rng.random() < 0.7:
                data[5] |= 0xC0  # input present, so block 15 is read too
            if data:
                lines.append(f"block {block} " + " ".join(f"{b:02X}" for b in data))
        with open(blocks_file, "w") as f:
            f.write("\n".join(lines) + "\n")
        # All five at once, as one input change.
        code, _, err = run(sim + ["scenario", "--file", blocks_file], env)
        if code != 0:
            failures.append(f"random round {round_}: telmar-sim scenario --file: {err}")
        check(f"random round {round_}")
    return failures


if __name__ == "__main__":
    main()
