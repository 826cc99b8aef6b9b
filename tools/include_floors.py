#!/usr/bin/env python3
"""Structure drawing of a source tree from its #include "..." lines: modules (a .h and its
.cpp are one), include arrows between modules, floors (longest chain of arrows, counted
bottom-up after cycles are cut) and arrows back up (the arrows that close a cycle)."""
import os, re, sys, collections
root = sys.argv[1]
inc = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
files = {}
for d, _, fs in os.walk(root):
    for f in fs:
        if f.endswith(('.h', '.cpp', '.cpp.in')):
            p = os.path.join(d, f)
            files[os.path.relpath(p, root)] = p
def module(rel):
    return re.sub(r'\.(h|cpp|cpp\.in)$', '', rel)
mods = {module(r) for r in files}
edges = set()
for rel, p in files.items():
    here = os.path.dirname(rel)
    for line in open(p, encoding='utf-8', errors='replace'):
        m = inc.match(line)
        if not m: continue
        t = m.group(1)
        cands = [os.path.normpath(os.path.join(here, t)), os.path.normpath(t)]
        tgt = next((module(c) for c in cands if module(c) in mods), None)
        if tgt and tgt != module(rel):
            edges.add((module(rel), tgt))
out = collections.defaultdict(set)
for a, b in edges: out[a].add(b)
# Arrows back up: a depth-first walk's back edges (each closes a cycle).
color, back = {}, set()
def dfs(u):
    color[u] = 1
    for v in sorted(out[u]):
        if color.get(v) == 1: back.add((u, v))
        elif v not in color: dfs(v)
    color[u] = 2
sys.setrecursionlimit(10000)
for m in sorted(mods):
    if m not in color: dfs(m)
floor = {}
def fl(u):
    if u not in floor:
        floor[u] = 1 + max((fl(v) for v in out[u] if (u, v) not in back), default=0)
    return floor[u]
for m in mods: fl(m)
floors = max(floor.values())
print(f"modules {len(mods)}, include arrows {len(edges)}, floors {floors}, arrows back up {len(back)}")
for f in range(floors, 0, -1):
    print(f"  floor {f:2}: " + " ".join(sorted(m for m in mods if floor[m] == f)))
for a, b in sorted(back): print(f"  back up: {a} -> {b}")
