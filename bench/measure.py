#!/usr/bin/python3
"""Runs a command and prints its wall time and the CPU time (user + system) it and its children used,
in seconds: "WALL CPU". Exits with the command's status; its output goes nowhere.

Usage: measure.py COMMAND [ARG...]
"""
import resource
import subprocess
import sys
import time


def main():
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    status = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    print(f"{wall:.3f} {cpu:.3f}")
    sys.exit(status)


if __name__ == "__main__":
    main()
