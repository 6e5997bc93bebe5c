#!/usr/bin/env python3
"""Checks the built Tessily library: its exported dynamic symbols (demangled) are exactly the
names listed in the expected file, its SONAME is libtessily.so.1, a libtessily.so link stands
beside it, and ldd shows nothing of Velvanet or Qt.

    check_library.py <path of libtessily.so.1> <expected exports file>
"""
import os
import re
import subprocess
import sys


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def main():
    lib, expected_file = sys.argv[1], sys.argv[2]
    failures = []

    exported = set()
    for line in run("nm", "-D", "--defined-only", "--demangle", lib).splitlines():
        # address, type, name (the name may hold blanks)
        parts = line.split(None, 2)
        if len(parts) == 3:
            exported.add(re.sub(r"@+\S*$", "", parts[2]))
    with open(expected_file, encoding="utf-8") as f:
        expected = {l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")}
    for name in sorted(exported - expected):
        failures.append("exported but not part of the interface: " + name)
    for name in sorted(expected - exported):
        failures.append("missing from the exports: " + name)

    soname = re.search(r"^\s*SONAME\s+(\S+)", run("objdump", "-p", lib), re.M)
    if not soname or soname.group(1) != "libtessily.so.1":
        failures.append("SONAME is %s, not libtessily.so.1" % (soname.group(1) if soname else "missing"))
    link = os.path.join(os.path.dirname(lib), "libtessily.so")
    if not os.path.islink(link) or os.path.realpath(link) != os.path.realpath(lib):
        failures.append("no libtessily.so link to the library beside it")

    for line in run("ldd", lib).splitlines():
        if re.search(r"velvanet|libvv_|qt", line, re.I):
            failures.append("depends on: " + line.strip())
    if "not found" in run("ldd", lib):
        failures.append("ldd reports a missing dependency")

    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
