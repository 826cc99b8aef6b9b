#!/usr/bin/env python3
"""Counts passed and failed test cases in a ctest LastTest.log.

A GoogleTest program counts each of its cases; any other test (fuzzer, script) counts
once. A test that failed without reporting failed cases (a crash, a time-out) counts as
one failure on top of the cases it passed."""
import re
import sys

passed = failed = 0
text = open(sys.argv[1], encoding="utf-8", errors="replace").read().replace("\r", "")
for block in re.split(r"\n(?=\d+/\d+ Testing: )", text):
    output = block.split("\nOutput:\n", 1)
    if len(output) < 2:
        continue
    body, _, tail = output[1].partition("<end of output>")
    ok = "Test Passed." in tail
    cases_passed = re.findall(r"^\[  PASSED  \] (\d+) tests?\.", body, re.M)
    cases_failed = re.findall(r"^\[  FAILED  \] (\d+) tests?, listed below", body, re.M)
    if not cases_passed and not cases_failed:
        passed, failed = (passed + 1, failed) if ok else (passed, failed + 1)
        continue
    p = sum(map(int, cases_passed))
    f = sum(map(int, cases_failed))
    if not ok and f == 0:
        f = 1
    passed += p
    failed += f
print(passed, failed)
