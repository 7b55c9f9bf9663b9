#!/usr/bin/env python3
"""Reads an INI file with Python's configparser, set up for the private-profile rules the
services use, and prints every section and key with its value: one line per key,
"<section hex> <key hex> <value hex>" (code page 1251 bytes), and "<section hex>" alone for a
section without keys.

configparser differs from the platform's rules in three ways that are bridged here: section
names compare without regard to case and without surrounding blanks, and one pair of matching
quotes around a value is removed. The files compared avoid what the two read differently on
purpose (duplicate names, indented continuation lines, keys before the first section)."""
import configparser
import sys

data = open(sys.argv[1], 'rb').read()
if data.startswith(b'\xef\xbb\xbf'):
    text = data[3:].decode('utf-8')
elif data.startswith(b'\xff\xfe'):
    text = data[2:].decode('utf-16-le')
else:
    text = data.decode('cp1251')

parser = configparser.RawConfigParser(delimiters=('=',), comment_prefixes=(';',), inline_comment_prefixes=None,
                                      strict=True, allow_no_value=True, empty_lines_in_values=False,
                                      interpolation=None)
parser.optionxform = lambda name: name  # keep the case as written; lookups fold it
parser.read_string(text)


def hexed(s):
    return s.encode('cp1251').hex() or '-'


def unquote(v):
    if len(v) >= 2 and v[0] in '"\'' and v[-1] == v[0]:
        return v[1:-1]
    return v


for section in parser.sections():
    keys = parser.options(section)
    if not keys:
        print(hexed(section.strip()))
    for key in keys:
        value = parser.get(section, key)
        print(hexed(section.strip()), hexed(key), hexed(unquote('' if value is None else value)))
