#!/usr/bin/env python3
"""A model of moving through the rows 1..N of a result, written apart from the client code.

Usage: scroll_model.py N MOVES
MOVES is a string of n (next), p (prior), b (to the start), e (to the end), m (bookmark the
current row) and g (go to the bookmark). Prints one line per move: the current row number, or
"bof" / "eof" when there is no current row.
"""
import sys


def run(n, moves):
    current = None  # row number, or None
    side = "bof"    # where we stand without a current row
    mark = None
    out = []
    for move in moves:
        if move == "n":
            if current is None:
                if side == "bof" and n > 0:
                    current = 1
                else:
                    side = "eof"
            elif current < n:
                current += 1
            else:
                current, side = None, "eof"
        elif move == "p":
            if current is None:
                if side == "eof" and n > 0:
                    current = n
                else:
                    side = "bof"
            elif current > 1:
                current -= 1
            else:
                current, side = None, "bof"
        elif move == "b":
            current, side = None, "bof"
        elif move == "e":
            current, side = None, "eof"
        elif move == "m":
            mark = current
        elif move == "g":
            if mark is not None:
                current = mark
        out.append(str(current) if current is not None else side)
    return out


if __name__ == "__main__":
    print("\n".join(run(int(sys.argv[1]), sys.argv[2])))
