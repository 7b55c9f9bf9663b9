#!/usr/bin/env python3
"""Models of the dataset's searches and date forms, checked against the dataset.

locate-gen SEED OUT      random rows and queries, one per line
locate-check GEN RESULT  the answers the dataset gave (RESULT) against the model; exit 1 on a
                         difference
dates OUT                civil dates and times with the platform's forms of them
"""
import bisect
import datetime
import random
import sys

WORDS = ["apple", "Apple", "APPLE", "banana", "Banana", "cherry", "Cherry", "date", "Date", "fig"]
ORDERS = ["-", "K", "K_DESC", "S", "S_CIS", "K;S"]


def locate_gen(seed, out):
    rnd = random.Random(seed)
    n = 150
    lines = []
    for i in range(1, n + 1):
        k = "~" if rnd.random() < 0.08 else str(rnd.randint(0, 20))
        lines.append("row %d %s %s" % (i, k, rnd.choice(WORDS)))
    for _ in range(40):
        v = "~" if rnd.random() < 0.05 else str(rnd.randint(-1, 21))
        w = rnd.choice(WORDS + ["grape"])
        pos = rnd.randint(0, n - 1)
        lines.append("q locate K %s" % v)
        lines.append("q locate_ci S %s" % w)
        lines.append("q locate_cs S %s" % w)
        lines.append("q lookup K %s" % v)
        if v != "~":
            lines.append("q back K %s %d" % (v, pos))
            lines.append("q next K %s %d" % (v, pos))
            lines.append("q nearest K %s" % v)
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


def locate_check(gen, result):
    rows = {}
    queries = []
    for line in open(gen):
        w = line.split()
        if w[0] == "row":
            rows[int(w[1])] = (None if w[2] == "~" else int(w[2]), w[3])
        else:
            queries.append(w[1:])
    errors = 0
    checked = 0
    order = None
    display = []
    answers = []

    def value(row_id, field):
        return rows[row_id][0] if field == "K" else rows[row_id][1]

    def matches(row_id, field, key, kind):
        v = value(row_id, field)
        if key == "~":
            return v is None
        if v is None:
            return False
        if field == "K":
            return v == int(key)
        return v.lower() == key.lower() if kind == "locate_ci" else v == key

    def expected(q):
        kind, field, key = q[0], q[1], q[2]
        if kind in ("locate", "locate_ci", "locate_cs", "lookup"):
            return next((r for r in display if matches(r, field, key, kind)), 0)
        pos = int(q[3]) if len(q) > 3 else 0
        if kind == "back":
            return next((r for r in reversed(display[:pos]) if matches(r, field, key, kind)), 0)
        if kind == "next":
            return next((r for r in display[pos + 1:] if matches(r, field, key, kind)), 0)
        # nearest: the first value not below the key, else the last row
        k = int(key)
        found = next((r for r in display if value(r, "K") is not None and value(r, "K") >= k), None)
        if order == "K":
            keys = [value(r, "K") for r in display if value(r, "K") is not None]
            skipped = len(display) - len(keys)
            at = bisect.bisect_left(keys, k)
            assert (found is None) == (at == len(keys))
            if found is not None:
                assert display[skipped + at] == found
        return found if found is not None else display[-1]

    def finish():
        nonlocal errors, checked
        if order is None:
            return
        if sorted(display) != sorted(rows):
            print("order %s: the rows shown are not the rows" % order)
            errors += 1
        if order in ("K", "K_DESC"):
            ks = [value(r, "K") for r in display]
            nulls = [k for k in ks if k is None]
            vals = [k for k in ks if k is not None]
            want = nulls + sorted(vals) if order == "K" else sorted(vals, reverse=True) + nulls
            if ks != want:
                print("order %s: rows out of order" % order)
                errors += 1
            # equal keys keep the rows' order
            for a, b in zip(display, display[1:]):
                if value(a, "K") == value(b, "K") and a > b:
                    print("order %s: unstable at %d %d" % (order, a, b))
                    errors += 1
        if len(answers) != len(queries):
            print("order %s: %d answers for %d queries" % (order, len(answers), len(queries)))
            errors += 1
            return
        for q, got in zip(queries, answers):
            want = expected(q)
            checked += 1
            if want != got:
                errors += 1
                if errors < 20:
                    print("order %s: %s -> %d, model %d" % (order, " ".join(q), got, want))

    for line in open(result):
        w = line.split()
        if not w:
            continue
        if w[0] == "order":
            finish()
            order, display, answers = w[1], [int(x) for x in w[2:]], []
        else:
            answers.append(int(w[0]))
    finish()
    print("checked %d answers, %d differences" % (checked, errors))
    return 1 if errors or not checked else 0


def tdatetime(d, ms):
    """The platform's date-time: days since 1899-12-30, the time's fraction added to its
    magnitude (so before the epoch -1.25 is the day before at 06:00)."""
    days = (d - datetime.date(1899, 12, 30)).days
    frac = ms / 86400000.0
    return days + frac if days >= 0 else days - frac


def dates(out):
    cases = [
        (2024, 2, 29, 13, 45, 6, 789),
        (2000, 1, 1, 0, 0, 0, 0),
        (1899, 12, 30, 0, 0, 0, 0),
        (1899, 12, 30, 12, 0, 0, 0),
        (1899, 12, 29, 6, 0, 0, 0),
        (1899, 12, 29, 18, 30, 0, 0),
        (1800, 7, 14, 23, 59, 59, 999),
        (987, 3, 5, 7, 8, 9, 0),
        (1, 1, 1, 0, 0, 0, 1),
        (9999, 12, 31, 23, 59, 59, 999),
        (1970, 1, 1, 0, 0, 0, 0),
    ]
    with open(out, "w") as f:
        for y, m, d, h, n, s, z in cases:
            day = datetime.date(y, m, d)
            ms = ((h * 60 + n) * 60 + s) * 1000 + z
            date_part = tdatetime(day, 0)
            time_part = ms / 86400000.0
            f.write("%d %d %d %d %d %d %d %.17g %.17g %.17g %d %d %.17g\n" % (
                y, m, d, h, n, s, z, tdatetime(day, ms), date_part, time_part,
                day.toordinal(), ms, day.toordinal() * 86400000.0 + ms))


def main(argv):
    if argv[1] == "locate-gen":
        locate_gen(int(argv[2]), argv[3])
        return 0
    if argv[1] == "locate-check":
        return locate_check(argv[2], argv[3])
    if argv[1] == "dates":
        dates(argv[2])
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
