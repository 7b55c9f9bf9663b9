#!/usr/bin/env python3
"""Copies a file the way a slow writer on a shared folder does: without any lock, in CHUNKS
pieces with PAUSE_MS milliseconds between them, flushing after each.

Usage: slow_writer.py SOURCE TARGET CHUNKS PAUSE_MS
"""
import os
import sys
import time


def main():
    source, target, chunks, pause = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    with open(source, "rb") as f:
        data = f.read()
    step = max(1, -(-len(data) // chunks))
    with open(target, "wb") as out:
        for at in range(0, len(data), step):
            out.write(data[at:at + step])
            out.flush()
            os.fsync(out.fileno())
            if at + step < len(data):
                time.sleep(pause / 1000.0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
