#!/usr/bin/env python3
"""Checks the tests' labels as CTest reads them from a build folder.

    check_labels.py <label_groups.tsv> <build folder>

- Each discovery (a binary, a gtest filter, labels) gave at least one test
  exactly those labels: a renamed suite would otherwise drop out of its
  group silently and lose, say, "root" or "wayland".
- Every test has a kind, "unit", "jobs" or "e2e" (scripts select by them).
- Every "e2e" test runs alone (RUN_SERIAL): they share one display.
Prints every fault found; exit status 1 when there is one.
"""
import json
import os
import subprocess
import sys


def main():
    groups_file, build = sys.argv[1], sys.argv[2]
    shown = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                           stdout=subprocess.PIPE, text=True).stdout
    tests = json.loads(shown)["tests"]
    faults = []
    seen = {}  # (binary, frozenset of labels) -> number of tests
    for t in tests:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        labels = props.get("LABELS", [])
        if not {"unit", "jobs", "e2e"} & set(labels):
            faults.append("%s: no kind among unit, jobs, e2e (labels %s)" % (t["name"], labels))
        if "e2e" in labels and not props.get("RUN_SERIAL"):
            faults.append("%s: e2e but not RUN_SERIAL" % t["name"])
        command = t.get("command") or [""]
        key = (os.path.basename(command[0]), frozenset(labels))
        seen[key] = seen.get(key, 0) + 1
    groups = 0
    with open(groups_file) as f:
        for line in f:
            if not line.strip():
                continue
            binary, flt, labels = line.rstrip("\n").split("\t")
            groups += 1
            want = frozenset(l for l in labels.split(";") if l)
            if not seen.get((binary, want)):
                faults.append("%s, filter '%s': no test has the labels %s"
                              % (binary, flt, sorted(want)))
    for fault in faults:
        print(fault)
    print("%d tests, %d discoveries, %d faults" % (len(tests), groups, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
