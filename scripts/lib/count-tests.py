#!/usr/bin/env python3
"""Counts passed and failed test cases in a ctest LastTest.log.

A GoogleTest program counts each of its cases; any other test (fuzzer, script) counts
once. A test that failed without reporting failed cases (a crash, a time-out) counts as
one failure on top of the cases it passed.

LastTest.log says "Test Passed." of a test that skipped itself (SKIP_RETURN_CODE); only
ctest's console output lists those, under "The following tests did not run:". Given that
output as the second argument, skipped tests count as neither passed nor failed.
Prints "PASSED FAILED SKIPPED"."""
import re
import sys

skipped_names = set()
if len(sys.argv) > 2:
    console = open(sys.argv[2], encoding="utf-8", errors="replace").read()
    skipped_names = set(re.findall(r"^\s*\d+ - (\S+) \(Skipped\)$", console, re.M))

passed = failed = skipped = 0
text = open(sys.argv[1], encoding="utf-8", errors="replace").read().replace("\r", "")
for block in re.split(r"\n(?=\d+/\d+ Testing: )", text):
    output = block.split("\nOutput:\n", 1)
    if len(output) < 2:
        continue
    name = re.match(r"\d+/\d+ Testing: (\S+)", block)
    if name and name.group(1) in skipped_names:
        skipped += 1
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
print(passed, failed, skipped)
