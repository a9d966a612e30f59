#!/usr/bin/env python3
"""Counts the system calls a run of uninst.exe makes, per source file of the
program (one file per pass) and per call, from Wine's relay trace on stdin.

Usage: WINEDEBUG=+relay wine uninst.exe /S 2>&1 >/dev/null | profile.py uninst.map
Only calls made by the program's own code are counted: each is attributed by
its return address to the function around it, found in the linker map."""
import bisect
import collections
import re
import sys

def read_map(path):
    """(start, end, source file) of every code section of the program."""
    spans = []
    pending = None
    for line in open(path, errors="replace"):
        if line.startswith(" .text"):
            fields = line.split()
            if len(fields) >= 4 and fields[1].startswith("0x"):
                spans.append((int(fields[1], 16), int(fields[2], 16), fields[3]))
            else:
                pending = fields[0]  # the name was long; the numbers follow on the next line
            continue
        if pending:
            fields = line.split()
            if len(fields) >= 3 and fields[0].startswith("0x"):
                spans.append((int(fields[0], 16), int(fields[1], 16), fields[2]))
            pending = None
    spans.sort()
    return spans

def source_of(spans, starts, address):
    i = bisect.bisect_right(starts, address) - 1
    if i >= 0 and spans[i][0] <= address < spans[i][0] + spans[i][1]:
        name = re.sub(r"^.*\(|\.obj\)$|\)$", "", spans[i][2])
        return name
    return None

def main():
    spans = read_map(sys.argv[1])
    starts = [s[0] for s in spans]
    call = re.compile(r"Call ([\w]+)\.(\w+)\(.*\) ret=([0-9a-f]{8})")
    counts = collections.Counter()
    for line in sys.stdin:
        m = call.search(line)
        if not m:
            continue
        source = source_of(spans, starts, int(m.group(3), 16))
        if source is None or not source.endswith(".cpp") or m.group(1) in ("msvcrt", "ucrtbase"):
            continue  # library or start-up code, or the C runtime's string helpers
        counts[(source, m.group(2))] += 1
    per_source = collections.Counter()
    for (source, _), n in counts.items():
        per_source[source] += n
    for source, total in per_source.most_common():
        print(f"  {source}: {total} calls")
        for (s, name), n in sorted(counts.items(), key=lambda item: -item[1]):
            if s == source and n >= 2:
                print(f"    {n:7d}  {name}")

main()
