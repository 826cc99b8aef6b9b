#!/usr/bin/env python3
"""Private memory (Private_Clean + Private_Dirty) of two processes by mapping, from their
/proc/PID/smaps copies: the mappings where the second holds more or less than the first."""
import sys
from collections import defaultdict


def private_by_mapping(path):
    sums = defaultdict(int)
    name = None
    with open(path) as smaps:
        for line in smaps:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5 and not fields[0].endswith(":"):
                # A mapping's header; Wine's DLLs are mapped from their files by name.
                name = fields[5].rsplit("/", 1)[-1] if len(fields) >= 6 else "[anonymous]"
            elif fields[0] in ("Private_Clean:", "Private_Dirty:"):
                sums[name] += int(fields[1])
    return sums


def main():
    floor, client = private_by_mapping(sys.argv[1]), private_by_mapping(sys.argv[2])
    rows = [(client.get(n, 0) - floor.get(n, 0), n) for n in set(floor) | set(client)]
    rows = [r for r in rows if abs(r[0]) >= 64]
    rows.sort(reverse=True)
    print(f"  {'mapping':<36} {'floor':>8} {'kestrun':>8} {'more':>8}")
    for diff, name in rows:
        print(f"  {name:<36} {floor.get(name, 0):>8} {client.get(name, 0):>8} {diff:>+8}")
    print(f"  {'total':<36} {sum(floor.values()):>8} {sum(client.values()):>8} "
          f"{sum(client.values()) - sum(floor.values()):>+8}")


if __name__ == "__main__":
    main()
