#!/usr/bin/env python3
"""Expected float texts: the value's 18 leading digits (correctly rounded), then rounded half
up to the asked digits, in the general/fixed/number/exponent forms. Writes floats.tsv."""
import random
from decimal import Decimal, ROUND_HALF_UP

def rec(x, sig, decimals=None):
    """(negative, digits, exponent) with value = 0.digits * 10**exponent."""
    neg = x < 0
    if x == 0:
        return False, '', 0
    d = Decimal(format(abs(x), '.17e'))
    t = d.as_tuple()
    digits = ''.join(map(str, t.digits))
    exp = len(digits) + t.exponent
    keep = sig if decimals is None else min(sig, exp + decimals)
    if keep < 0:
        return False, '', 0
    q = Decimal('1e%d' % (exp - keep))
    r = d.quantize(q, rounding=ROUND_HALF_UP)
    if r == 0:
        return False, '', 0
    t = r.as_tuple()
    digits = ''.join(map(str, t.digits)).rstrip('0')
    exp = len(''.join(map(str, t.digits))) + t.exponent
    return neg, digits, exp

def general(x, prec=15, expdigits=0):
    neg, dg, e = rec(x, prec)
    if not dg:
        return '0'
    s = '-' if neg else ''
    if e > prec or e < -4:  # fixed down to 0.00001
        s += dg[0] + ('.' + dg[1:] if len(dg) > 1 else '')
        ex = e - 1
        return s + 'E' + ('-' if ex < 0 else '') + str(abs(ex)).zfill(expdigits)
    if e <= 0:
        return s + '0.' + '0' * (-e) + dg
    ip = dg[:e].ljust(e, '0')
    fp = dg[e:]
    return s + ip + ('.' + fp if fp else '')

def fixed(x, decimals, thousands, prec=18):
    neg, dg, e = rec(x, prec, decimals)
    if e > prec:
        return general(x, prec)  # scientific, not reached by the chosen values
    ip = '0' if e <= 0 else dg[:e].ljust(e, '0')
    if thousands:
        ip = '{:,}'.format(int(ip))
    frac = ''.join(dg[e + i] if 0 <= e + i < len(dg) else '0' for i in range(decimals))
    s = ('-' if neg and dg else '') + ip
    return s + ('.' + frac if decimals else '')

def exponent(x, prec, expdigits):
    neg, dg, e = rec(x, prec)
    dg = dg.ljust(prec, '0')
    ex = e - 1 if x != 0 else 0
    s = ('-' if neg else '') + dg[0] + ('.' + dg[1:prec] if prec > 1 else '')
    return s + 'E' + ('-' if ex < 0 else '+') + str(abs(ex)).zfill(expdigits)

values = ['0', '1', '-1', '0.1', '100', '1E-6', '-2.5', '1E20', '12.5', '3', '-0.25', '0.0001',
          '0.00001', '1.5E-6', '123456789012345', '1234567890123456', '0.3', '2.675', '1.005',
          '1E15', '1E16', '123.456', '-0.000123456', '9.99999999999999E14', '999999999999999.5',
          '0.1234567890123456789', '1.7976931348623157E308', '4.9E-324', '5E-5', '0.00012',
          '12345.678', '-1234567.891', '33.333333333333333', '1.239', '0.125', '0.005', '-0.005',
          '1.45', '99.995', '1E-5', '9.9999E-5']
rnd = random.Random(20261210)
for _ in range(150):
    m = rnd.uniform(-10, 10)
    values.append(repr(m * 10 ** rnd.randint(-8, 14)))

with open('floats.tsv', 'w') as f:
    f.write('# value\tFloatToStr\tffFixed 18,2\tffNumber 18,3\tffExponent 6,2\tffGeneral 6,0\n')
    for v in values:
        x = float(v)
        cols = [v, general(x), fixed(x, 2, False) if abs(x) < 1e17 else '-',
                fixed(x, 3, True) if abs(x) < 1e17 else '-', exponent(x, 6, 2), general(x, 6)]
        f.write('\t'.join(cols) + '\n')
