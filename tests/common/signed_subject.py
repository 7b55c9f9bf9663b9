#!/usr/bin/env python3
"""Reference for the signed letter subjects, written from the scheme alone (hashlib).

make:   reads "prefix<TAB>issuer<TAB>branch<TAB>YYYYMMDDHHMMSS<TAB>random" lines and prints
        each signed subject.
random PREFIX N SEED: prints N subjects signed for the prefix with random stamps.
"""
import hashlib
import random
import sys

KEY = "KPmw7Dюжr3".encode("cp1251")


def sign(prefix, issuer, branch, stamp):
    body = prefix + "%.4d" % issuer + "%.2d" % branch + stamp.encode("cp1251").hex()
    return body + hashlib.md5(body.encode("cp1251") + KEY).hexdigest()


def main():
    if sys.argv[1] == "make":
        for line in sys.stdin.read().splitlines():
            prefix, issuer, branch, time, rnd = line.split("\t")
            print(sign(prefix, int(issuer), int(branch), time + rnd))
    else:
        rng = random.Random(int(sys.argv[4]))
        alphabet = "abcdefghijklmnopqrstuvwxyz!@#$%^&*()_+=-|\\/?.,<>{}[]:;"
        for _ in range(int(sys.argv[3])):
            time = "%04d%02d%02d%02d%02d%02d" % (rng.randint(2000, 2099), rng.randint(1, 12), rng.randint(1, 28),
                                                  rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))
            stamp = time + "".join(rng.choice(alphabet) for _ in range(5))
            print(sign(sys.argv[2], rng.randint(0, 9999), rng.randint(0, 99), stamp))


main()
