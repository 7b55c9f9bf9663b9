#!/usr/bin/env python3
"""Reads an XML row set with xml.etree and compares it with the expected rows.

Usage: check_rowset.py DOCUMENT EXPECTED_JSON
EXPECTED_JSON is a list of objects, column name -> value text; a missing column is a null.
Each value must also read as its declared type: numbers as decimals with a dot, dates as ISO
date-times, bin.hex as hexadecimal bytes. Prints what differs and exits 1, or exits 0.
"""
import datetime
import decimal
import json
import sys
import xml.etree.ElementTree as ET

S = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882"
DT = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882"
RS = "urn:schemas-microsoft-com:rowset"
Z = "#RowsetSchema"

NUMBERS = {"i1", "i2", "int", "i8", "ui2", "ui4", "float", "r4", "number"}


def check_type(kind, text):
    if kind in NUMBERS:
        decimal.Decimal(text)  # raises on "1,5"
        if "," in text:
            raise ValueError("comma in a number")
    elif kind == "datetime" or kind == "date":
        datetime.datetime.fromisoformat(text)
    elif kind == "time":
        datetime.time.fromisoformat(text)
    elif kind == "bin.hex":
        bytes.fromhex(text)
    elif kind == "boolean":
        if text not in ("True", "False"):
            raise ValueError("not a boolean")


def main():
    root = ET.parse(sys.argv[1]).getroot()
    with open(sys.argv[2], encoding="utf-8") as f:
        expected = json.load(f)
    columns = {}
    for at in root.iter("{%s}AttributeType" % S):
        alias = at.get("name")
        real = at.get("{%s}name" % RS, alias)
        datatype = at.find("{%s}datatype" % S)
        columns[alias] = (real, datatype.get("{%s}type" % DT))
    rows = []
    problems = []
    for row in root.find("{%s}data" % RS).findall("{%s}row" % Z):
        values = {}
        for alias, text in row.attrib.items():
            real, kind = columns[alias]
            try:
                check_type(kind, text)
            except ValueError as e:
                problems.append("%s=%r is no %s: %s" % (real, text, kind, e))
            values[real] = text
        rows.append(values)
    if len(rows) != len(expected):
        problems.append("%d rows, expected %d" % (len(rows), len(expected)))
    for i, (got, want) in enumerate(zip(rows, expected)):
        for name in sorted(set(got) | set(want)):
            if got.get(name) != want.get(name):
                problems.append("row %d %s: %r, expected %r" % (i + 1, name, got.get(name), want.get(name)))
    for p in problems:
        print(p)
    print("rows: %d, columns: %d" % (len(rows), len(columns)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
