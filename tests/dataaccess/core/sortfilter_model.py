#!/usr/bin/env python3
"""Model of the record list's sorting and filtering, written independently of the C++ code.

Usage: sortfilter_model.py SEED OUTFILE

Makes random rows (integers, floats, currencies, decimals, date-times, 8-bit texts in code page
1251 and UTF-16 texts, with nulls), random sort orders and random filter expressions,
and writes them with the expected results, one item per line, texts hex-encoded:

  column NAME TYPE
  row V1 V2 ...                      '~' is null
  sort HEX(order) ID ID ...           the row ids in sorted order
  filter CI NOPARTIAL HEX(text) ID ... the ids of the rows the filter selects, ascending

Text order is ICU's root collation (the runtime's): tertiary strength with case, secondary
without, canonical normalization on; BIN compares character codes. Nulls sort first, DESC
reverses a column, and rows that compare equal keep their order (the sort is stable).
Filter comparisons of texts use the runtime's Variant order: word sort, where hyphens and
apostrophes count only between texts that are otherwise equal.
"""
import datetime
import decimal
import functools
import random
import sys

import icu

ALPHABET = ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
            "абвгдежзийклмнопрстуфхцчшщъыьэюяАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯёЁ0123456789 -'")
EPOCH = datetime.datetime(1899, 12, 30)


def collator(strength):
    c = icu.Collator.createInstance(icu.Locale.getRoot())
    c.setStrength(strength)
    c.setAttribute(icu.UCollAttribute.NORMALIZATION_MODE, icu.UCollAttributeValue.ON)
    return c


TERTIARY = collator(icu.Collator.TERTIARY)
SECONDARY = collator(icu.Collator.SECONDARY)


def sign(x):
    return (x > 0) - (x < 0)


def word_compare(a, b):
    """The runtime's word sort with case: hyphen and apostrophe weigh only on a tie."""
    sa = a.replace("-", "").replace("'", "")
    sb = b.replace("-", "").replace("'", "")
    r = sign(TERTIARY.compare(sa, sb))
    if r != 0:
        return r
    na, nb = len(a) - len(sa), len(b) - len(sb)
    if na == 0 and nb == 0:
        return 0
    if na != nb:
        return -1 if na < nb else 1
    return sign(TERTIARY.compare(a, b))


def hexs(text):
    return text.encode("cp1251").hex() if text else "-"


class Column:
    def __init__(self, name, kind):
        self.name, self.kind = name, kind


COLUMNS = [Column("ID", "int"), Column("I", "int"), Column("F", "float"), Column("C", "bcd"),
           Column("B", "fmtbcd"), Column("D", "datetime"), Column("S", "string"), Column("W", "wide")]
TEXT_KINDS = ("string", "wide")


def random_text(rng, pool):
    if pool and rng.random() < 0.3:
        base = rng.choice(pool)
        # a near neighbour: another case, an extra hyphen, one letter changed
        choice = rng.randrange(3)
        if choice == 0:
            return base.swapcase()
        if choice == 1 and len(base) < 12:
            i = rng.randrange(len(base) + 1)
            return base[:i] + rng.choice("-'") + base[i:]
    n = rng.randrange(1, 9)
    return "".join(rng.choice(ALPHABET) for _ in range(n)).strip() or "x"


def make_rows(rng, count):
    rows, pool = [], []
    for i in range(1, count + 1):
        row = {"ID": i}
        maybe = lambda v: None if rng.random() < 0.1 else v  # noqa: E731
        row["I"] = maybe(rng.randrange(-20, 20))
        row["F"] = maybe(rng.choice([-1.5, -0.25, 0.0, 0.1, 2.75, 1e10, -3e-5, 7.0]))
        row["C"] = maybe(rng.randrange(-10 ** 9, 10 ** 9) if rng.random() < 0.7 else rng.choice([0, 12345, -5]))
        row["B"] = maybe(str(decimal.Decimal(rng.randrange(-10 ** 6, 10 ** 6)).scaleb(-rng.randrange(0, 4))))
        row["D"] = maybe(datetime.datetime(rng.randrange(1950, 2040), rng.randrange(1, 13), rng.randrange(1, 29),
                                           rng.randrange(24), rng.randrange(60), rng.randrange(60),
                                           rng.randrange(1000) * 1000))
        for name in ("S", "W"):
            t = maybe(random_text(rng, pool))
            if t is not None:
                pool.append(t)
            row[name] = t
        rows.append(row)
    return rows


def encode_value(kind, v):
    if v is None:
        return "~"
    if kind in TEXT_KINDS:
        return hexs(v)
    if kind == "float":
        return repr(v)
    if kind == "datetime":
        delta = v - EPOCH
        return repr(delta.days + (delta.seconds * 1000 + delta.microseconds // 1000) / 86400000.0)
    return str(v)


def compare_values(kind, a, b, sort_type):
    if kind in TEXT_KINDS:
        if sort_type == "BIN":
            ka = a.encode("cp1251") if kind == "string" else a.encode("utf-16-be")
            kb = b.encode("cp1251") if kind == "string" else b.encode("utf-16-be")
            return sign((ka > kb) - (ka < kb))
        c = SECONDARY if sort_type == "CIS" else TERTIARY
        return sign(c.compare(a, b))
    if kind == "fmtbcd":
        a, b = decimal.Decimal(a), decimal.Decimal(b)
    return sign((a > b) - (a < b))


def random_order(rng):
    names = rng.sample([c.name for c in COLUMNS[1:]], rng.randrange(1, 4))
    order, parts = [], []
    for name in names:
        kind = next(c.kind for c in COLUMNS if c.name == name)
        desc = rng.random() < 0.4
        sort_type = rng.choice(["CS", "CIS", "BIN"]) if kind in TEXT_KINDS and rng.random() < 0.7 else "CS"
        words = [name]
        if desc or rng.random() < 0.2:
            words.append(rng.choice(["DESC", "desc"]) if desc else "asc")
        if sort_type != "CS" or rng.random() < 0.1:
            words.append(sort_type.lower() if rng.random() < 0.3 else sort_type)
        if len(words) == 3 and rng.random() < 0.5:
            words[1], words[2] = words[2], words[1]
        parts.append(" ".join(words))
        order.append((name, kind, desc, sort_type))
    text = rng.choice(["; ", ",", " ; "]).join(parts)
    return text, order


def sort_rows(rows, order):
    def cmp(r1, r2):
        for name, kind, desc, sort_type in order:
            a, b = r1[name], r2[name]
            if a is None or b is None:
                r = 0 if a is None and b is None else (-1 if a is None else 1)
            else:
                r = compare_values(kind, a, b, sort_type)
            if desc:
                r = -r
            if r:
                return r
        return 0
    return sorted(rows, key=functools.cmp_to_key(cmp))


# ---- filters: each generator gives (text, predicate(row, ci, nopartial))

def like(value, pattern):
    """* and % any run, _ one character."""
    import re
    rx = "".join(".*" if ch in "*%" else "." if ch == "_" else re.escape(ch) for ch in pattern)
    return re.fullmatch(rx, value, re.S) is not None


def quote(text):
    return "'" + text.replace("'", "''") + "'"


def random_pattern(rng, rows, name):
    values = [r[name] for r in rows if r[name]]
    base = rng.choice(values) if values else "x"
    out = []
    for ch in base:
        p = rng.random()
        if p < 0.15:
            out.append("_")
        elif p < 0.25:
            if not out or out[-1] != "%":
                out.append("%")
        else:
            out.append(ch)
    if rng.random() < 0.5:
        out = out[: rng.randrange(len(out) + 1)] + ["%"]
    return "".join(out)


def up(v):
    return v.upper() if isinstance(v, str) else v


def condition(rng, rows):
    kind = rng.randrange(7)
    if kind == 0:
        name = rng.choice(["I", "ID"])
        op = rng.choice(["=", "<>", "<", ">", "<=", ">="])
        k = rng.randrange(-20, 25)
        fn = {"=": lambda a: a == k, "<>": lambda a: a != k, "<": lambda a: a < k, ">": lambda a: a > k,
              "<=": lambda a: a <= k, ">=": lambda a: a >= k}[op]
        if op == "<>":
            # Null equals only Null, so a null is not equal to a number
            return f"{name} {op} {k}", lambda r, ci, np: r[name] is None or fn(r[name])
        return f"{name} {op} {k}", lambda r, ci, np: r[name] is not None and fn(r[name])
    if kind == 1:
        op = rng.choice(["<", ">", "<=", ">="])
        k = rng.choice([-1.5, 0, 2.75, 0.1])
        text = f"F {op} {k}" if k >= 0 else f"F {op} -{-k}"
        fn = {"<": lambda a: a < k, ">": lambda a: a > k, "<=": lambda a: a <= k, ">=": lambda a: a >= k}[op]
        return text, lambda r, ci, np: r["F"] is not None and fn(r["F"])
    if kind == 2:
        name = rng.choice(["S", "W", "I", "D"])
        neg = rng.random() < 0.5
        return (f"{name} IS {'NOT ' if neg else ''}NULL",
                lambda r, ci, np: (r[name] is not None) if neg else (r[name] is None))
    if kind == 3:
        name = rng.choice(["S", "W"])
        pattern = random_pattern(rng, rows, name)
        neg = rng.random() < 0.4
        op = "NOT LIKE" if neg else "LIKE"

        def pred(r, ci, np, name=name, pattern=pattern, neg=neg):
            v = r[name]
            if v is None:
                return neg
            v, p = (up(v), up(pattern)) if ci else (v, pattern)
            m = (word_compare(v, p) == 0) if np else like(v, p)
            return not m if neg else m
        return f"{name} {op} {quote(pattern)}", pred
    if kind == 4:
        name = rng.choice(["S", "W"])
        values = [r[name] for r in rows if r[name]]
        k = rng.choice(values) if values else "x"
        op = rng.choice(["<", ">", "<=", ">="])

        def pred(r, ci, np, name=name, k=k, op=op):
            v = r[name]
            if v is None:
                return False
            c = word_compare(up(v), up(k)) if ci else word_compare(v, k)
            return {"<": c < 0, ">": c > 0, "<=": c <= 0, ">=": c >= 0}[op]
        return f"{name} {op} {quote(k)}", pred
    if kind == 5:
        name = rng.choice(["S", "W"])
        values = [r[name] for r in rows if r[name]]
        k = rng.choice(values) if values else "x"
        if rng.random() < 0.3:
            k = k.swapcase()

        def pred(r, ci, np, name=name, k=k):
            v = r[name]
            if v is None:
                return False
            v2, k2 = (up(v), up(k)) if ci else (v, k)
            return (word_compare(v2, k2) == 0) if np else like(v2, k2)
        return f"[{name}] = {quote(k)}", pred
    # a date: the row's date against a constant in the storage's own text form is tested in C++;
    # here against another row's date by number of days
    k = rng.choice([r["D"] for r in rows if r["D"]])
    op = rng.choice(["<", ">"])
    days = (k - EPOCH).days
    return (f"D {op} {days}",
            lambda r, ci, np: r["D"] is not None and ((r["D"] - EPOCH).total_seconds() / 86400 < days
                                                      if op == "<" else (r["D"] - EPOCH).total_seconds() / 86400 > days))


def expression(rng, rows, depth=0):
    if depth > 2 or rng.random() < 0.4:
        text, pred = condition(rng, rows)
        if rng.random() < 0.15:
            return f"NOT {text}", lambda r, ci, np, p=pred: not p(r, ci, np)
        return text, pred
    a_text, a = expression(rng, rows, depth + 1)
    b_text, b = expression(rng, rows, depth + 1)
    if rng.random() < 0.5:
        return f"({a_text} AND {b_text})", lambda r, ci, np: a(r, ci, np) and b(r, ci, np)
    return f"({a_text} OR {b_text})", lambda r, ci, np: a(r, ci, np) or b(r, ci, np)


def main():
    seed, out = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(seed)
    rows = make_rows(rng, 300)
    lines = [f"column {c.name} {c.kind}" for c in COLUMNS]
    for r in rows:
        lines.append("row " + " ".join(encode_value(c.kind, r[c.name]) for c in COLUMNS))
    for _ in range(40):
        text, order = random_order(rng)
        ids = [r["ID"] for r in sort_rows(rows, order)]
        lines.append(f"sort {hexs(text)} " + " ".join(map(str, ids)))
    for _ in range(120):
        text, pred = expression(rng, rows)
        ci, np = rng.random() < 0.3, rng.random() < 0.3
        ids = [r["ID"] for r in rows if pred(r, ci, np)]
        lines.append(f"filter {int(ci)} {int(np)} {hexs(text)} " + " ".join(map(str, ids)))
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
