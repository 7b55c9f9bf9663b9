#!/usr/bin/env python3
"""Independent reader and writer of the encrypted package container (.dat).

  N1 (u32 LE) | SIMPLEBLOB (N1) | N2 (u32 LE) | salt (N2) | RC4 cipher text

Keys are CryptoAPI blobs: PRIVATEKEYBLOB / PUBLICKEYBLOB, numbers little-endian.
The SIMPLEBLOB holds the PKCS#1 v1.5 encryption of the session key, least significant
byte first. The RC4 key is the session key followed by the salt.

usage: dat_codec.py decrypt PRIVATEKEYBLOB DAT OUT
       dat_codec.py encrypt PUBLICKEYBLOB IN OUT SALTLEN
"""
import os
import struct
import sys

from cryptography.hazmat.primitives.asymmetric import padding, rsa


def le(data):
    return int.from_bytes(data, "little")


def parse_blob(blob):
    btype, version, reserved, alg = struct.unpack_from("<BBHI", blob, 0)
    magic, bits, e = struct.unpack_from("<4sII", blob, 8)
    assert version == 2 and reserved == 0, "bad blob header"
    m, h = bits // 8, bits // 16
    n = le(blob[20:20 + m])
    if btype == 6:
        assert magic == b"RSA1"
        return rsa.RSAPublicNumbers(e, n).public_key()
    assert btype == 7 and magic == b"RSA2"
    fields = [blob[20 + m + i * h:20 + m + (i + 1) * h] for i in range(5)]
    p, q, dp, dq, qinv = (le(f) for f in fields)
    d = le(blob[20 + m + 5 * h:20 + 2 * m + 5 * h])
    pub = rsa.RSAPublicNumbers(e, n)
    return rsa.RSAPrivateNumbers(p, q, d, dp, dq, qinv, pub).private_key()


def rc4(key, data):
    # Written out: the library's RC4 takes no 27-byte keys.
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255
        s[i], s[j] = s[j], s[i]
    out = bytearray(len(data))
    i = j = 0
    for k, byte in enumerate(data):
        i = (i + 1) & 255
        j = (j + s[i]) & 255
        s[i], s[j] = s[j], s[i]
        out[k] = byte ^ s[(s[i] + s[j]) & 255]
    return bytes(out)


def decrypt(private_blob, dat):
    key = parse_blob(private_blob)
    (n1,) = struct.unpack_from("<I", dat, 0)
    simple = dat[4:4 + n1]
    assert simple[:4] == b"\x01\x02\x00\x00" and simple[8:12] == b"\x00\xa4\x00\x00", "not a SIMPLEBLOB"
    session = key.decrypt(simple[12:][::-1], padding.PKCS1v15())
    (n2,) = struct.unpack_from("<I", dat, 4 + n1)
    salt = dat[8 + n1:8 + n1 + n2]
    cipher = dat[8 + n1 + n2:]
    candidates = [session + (salt + bytes(11))[:11]] if len(session) == 5 else [session + salt[:11], session]
    for material in candidates:
        plain = rc4(material, cipher)
        if plain[:2] == b"PK":
            return plain
    return rc4(candidates[0], cipher)


def encrypt(public_blob, plain, salt_len):
    key = parse_blob(public_blob)
    session = os.urandom(16)
    salt = os.urandom(salt_len)
    wrapped = key.encrypt(session, padding.PKCS1v15())[::-1]
    simple = b"\x01\x02\x00\x00\x01\x68\x00\x00\x00\xa4\x00\x00" + wrapped
    return (struct.pack("<I", len(simple)) + simple + struct.pack("<I", salt_len) + salt +
            rc4(session + salt, plain))


def main(argv):
    def read(path):
        with open(path, "rb") as f:
            return f.read()

    if argv[1] == "decrypt":
        out = decrypt(read(argv[2]), read(argv[3]))
    elif argv[1] == "encrypt":
        out = encrypt(read(argv[2]), read(argv[3]), int(argv[5]))
    else:
        sys.exit(__doc__)
    with open(argv[4], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv)
