#!/usr/bin/python3
"""Checks the signed subject of a package letter with hashlib, from the layout alone.

usage: check_subject.py SUBJECT_HEX PREFIX ISSUER BRANCH
Prints "ok", or what is wrong.
"""
import hashlib
import sys

KEY = "KPmw7Dюжr3".encode("cp1251")
SPECIAL = "!@#$%^&*()_+=-|\\/?.,<>{}[]:;"


def check(subject, prefix, issuer, branch):
    head = prefix + "%04d" % issuer + "%02d" % branch
    if len(subject) != len(head) + 38 + 32:
        return "length %d" % len(subject)
    if not subject.startswith(head):
        return "head " + subject[:len(head)]
    stamp_hex = subject[len(head):len(head) + 38]
    if stamp_hex != stamp_hex.lower():
        return "stamp not lower case"
    stamp = bytes.fromhex(stamp_hex).decode("cp1251")
    if not stamp[:14].isdigit():
        return "time " + stamp[:14]
    if any(c not in SPECIAL and not ("a" <= c <= "z") for c in stamp[14:]):
        return "random characters " + stamp[14:]
    body = subject[:-32]
    digest = hashlib.md5(body.encode("cp1251") + KEY).hexdigest()
    if subject[-32:] != digest:
        return "digest %s, expected %s" % (subject[-32:], digest)
    return "ok"


print(check(bytes.fromhex(sys.argv[1]).decode("cp1251"), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])))
