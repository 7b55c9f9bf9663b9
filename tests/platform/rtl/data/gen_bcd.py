#!/usr/bin/env python3
"""Expected packed decimals: for each input text the canonical text (no leading zeros before
the point, no trailing zeros after it), Precision, SignSpecialPlaces and the 32 fraction bytes
(digits high nibble first; a fraction below 0.1 keeps its zeros after the point), and the
comparison with the previous row. Python's decimal is the oracle. Writes bcd.tsv."""
import random
from decimal import Decimal

def canonical(text):
    d = Decimal(text)
    sign, digits, exp = d.as_tuple()
    ds = ''.join(map(str, digits))
    places = max(-exp, 0)
    if exp > 0:
        ds += '0' * exp
    intlen = len(ds) - places
    ip, fp = ds[:intlen] if intlen > 0 else '', ds[max(intlen, 0):]
    if intlen < 0:
        fp = '0' * (-intlen) + fp
    ip = ip.lstrip('0')
    fp = fp.rstrip('0')
    if not ip and not fp:
        return '0', 0, 0, '00' * 32
    text = ('-' if sign else '') + (ip or '0') + ('.' + fp if fp else '')
    stored = (ip + fp) if ip else fp
    nib = stored + '0' * (64 - len(stored))
    frac = ''.join(nib[i:i + 2] for i in range(0, 64, 2))
    return text, len(stored), (0x80 if sign else 0) | len(fp), frac

rnd = random.Random(34)
inputs = ['-123.45', '0.5', '0.05', '1.50', '0', '-0', '00012.3400', '100', '.5', '-0.00',
          '12345678901234567890.123456789', '1E3', '1.5E-3', '-7', '99999999999999999999999999999999',
          '0.000000000000000000000000000001']
for _ in range(300):
    n = rnd.randint(1, 32)
    places = rnd.randint(0, min(30, n))
    digits = ''.join(rnd.choice('0123456789') for _ in range(n))
    text = digits[:n - places] + ('.' + digits[n - places:] if places else '')
    if text.startswith('.'):
        text = '0' + text
    if rnd.random() < 0.4:
        text = '-' + text
    inputs.append(text)
prev = None
with open('bcd.tsv', 'w') as f:
    f.write('# input\tBcdToStr\tPrecision\tSignSpecialPlaces\tFraction\tcompare with previous row\n')
    for t in inputs:
        text, prec, ssp, frac = canonical(t)
        cmp = '' if prev is None else str((Decimal(t) > Decimal(prev)) - (Decimal(t) < Decimal(prev)))
        f.write('\t'.join([t, text, str(prec), str(ssp), frac, cmp]) + '\n')
        prev = t
