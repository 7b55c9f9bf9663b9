#!/usr/bin/env python3
"""Expected Oracle value forms, computed with Python's decimal and datetime modules only.

numbers.tsv    text, NUMBER bytes (exponent and base-100 digits, hex), the packed BCD the bytes
               convert to ("sign precision scale digits", or ERR beyond 64 digits / 63 places),
               and Oracle's TM9 text (or SCI when it would pass 64 characters).
dates.tsv      year month day hour minute second, the 7-byte DATE (hex), the TDateTime serial
               (days since 1899-12-30, time subtracted before that day) and the milliseconds form
               (date.toordinal() * 86400000 + milliseconds of the day).
timestamps.tsv year month day hour minute second nanoseconds, the text under the model
               "YYYY-MM-DD HH24:MI:SS.FF9", the TDateTime serial with the fraction cut to whole
               milliseconds and those milliseconds.
intervals.tsv  kind (DS or YM), the Oracle text with leading precision 9 and fraction precision 6,
               then the signed fields (days hours minutes seconds nanoseconds, or years months).

Run it in this folder; the tables are checked in, so it runs only when the cases change."""
import datetime
import decimal
import random

decimal.getcontext().prec = 200
D = decimal.Decimal
rnd = random.Random(2151)

# ---- NUMBER --------------------------------------------------------------------------------------

def number_bytes(d):
    if d == 0:
        return [0x80]
    sign, digits, exp = d.normalize().as_tuple()
    s = ''.join(map(str, digits))
    e10 = len(s) + exp          # value = 0.s * 10^e10
    if e10 % 2:
        s = '0' + s
        e10 += 1
    if len(s) % 2:
        s += '0'
    E = e10 // 2                # value = 0.(pairs) * 100^E
    pairs = [int(s[i:i + 2]) for i in range(0, len(s), 2)]
    while pairs and pairs[-1] == 0:
        pairs.pop()
    assert len(pairs) <= 20 and -64 <= E <= 63, d
    if not sign:
        return [0xC0 + E] + [p + 1 for p in pairs]
    out = [0x3F - E] + [101 - p for p in pairs]
    if len(pairs) < 20:
        out.append(102)
    return out

def plain(d):
    t = format(abs(d), 'f')
    i, _, f = t.partition('.')
    return i.lstrip('0'), f.rstrip('0')

def bcd(d):
    if d == 0:
        return '+ 1 0 0'
    i, f = plain(d)
    if len(i + f) > 64 or len(f) > 63:
        return 'ERR'
    return '%s %d %d %s' % ('-' if d < 0 else '+', len(i + f), len(f), i + f)

def tm9(d):
    if d == 0:
        return '0'
    i, f = plain(d)
    t = ('-' if d < 0 else '') + i + ('.' + f if f else '')
    return t if len(t) <= 64 else 'SCI'

fixed_numbers = ['0', '1', '-1', '100', '123.45', '-123.45', '0.5', '0.05', '-0.5', '99', '-99',
                 '1000000', '12345678901234567890', '0.000001', '3.14159265358979', '-987654321.125',
                 '1E+125', '-1E-130', '1E-130', '9.99', '10', '-10', '255', '-256', '0.001', '-0.001',
                 '9' * 38, '-' + '9' * 38, '0.' + '9' * 38, '1E+63', '1E+64', '1E-63', '1E-64',
                 '123456789012345678901234567890123456789', '-0.1', '0.1', '1.1', '2147483647',
                 '-2147483648', '9223372036854775807', '-9223372036854775808', '9.99999999999999E+125',
                 '-9.99999999999999E+125', '0.12345678901234567890123456789012345678E-100']
numbers = [D(t) for t in fixed_numbers]
for _ in range(300):
    n = rnd.randint(1, 38)
    digits = str(rnd.randint(1, 9)) + ''.join(str(rnd.randint(0, 9)) for _ in range(n - 1))
    # magnitudes over the whole range, most of them near the everyday ones
    e = rnd.choice([rnd.randint(-20, 20), rnd.randint(-20, 20), rnd.randint(-128, 125 - n)])
    v = D(digits).scaleb(e - n + 1)
    if not (D('1E-130') <= v < D('1E+126')):
        continue
    if rnd.random() < 0.4:
        v = -v
    numbers.append(v)

with open('numbers.tsv', 'w') as out:
    out.write('# text\tNUMBER bytes\tBCD sign precision scale digits\tTM9 text\n')
    for v in numbers:
        b = number_bytes(v)
        out.write('%s\t%s\t%s\t%s\n' % (v, ' '.join('%02X' % x for x in b), bcd(v), tm9(v)))

# ---- DATE ----------------------------------------------------------------------------------------

EPOCH = datetime.date(1899, 12, 30).toordinal()

def serial(date, msday):
    days = date.toordinal() - EPOCH
    frac = msday / 86400000
    return days + frac if days >= 0 else days - frac

fixed_dates = [(1910, 1, 1, 0, 0, 0), (1910, 12, 31, 23, 59, 59), (2010, 1, 1, 0, 0, 0), (2009, 6, 15, 12, 0, 0),
               (1899, 12, 30, 0, 0, 0), (1899, 12, 29, 6, 0, 0), (1899, 12, 31, 18, 30, 0), (1, 1, 1, 0, 0, 0),
               (9999, 12, 31, 23, 59, 59), (2000, 2, 29, 1, 2, 3), (1600, 2, 29, 23, 0, 0), (100, 3, 1, 0, 0, 1)]
dates = list(fixed_dates)
for _ in range(300):
    d = datetime.date.fromordinal(rnd.randint(1, datetime.date(9999, 12, 31).toordinal()))
    dates.append((d.year, d.month, d.day, rnd.randint(0, 23), rnd.randint(0, 59), rnd.randint(0, 59)))

with open('dates.tsv', 'w') as out:
    out.write('# year month day hour minute second\tDATE bytes\tTDateTime\tmilliseconds form\n')
    for y, mo, d, h, mi, s in dates:
        date = datetime.date(y, mo, d)
        b = [y // 100 + 100, y % 100 + 100, mo, d, h + 1, mi + 1, s + 1]
        msday = ((h * 60 + mi) * 60 + s) * 1000
        out.write('%d %d %d %d %d %d\t%s\t%r\t%d\n' % (y, mo, d, h, mi, s, ' '.join('%02X' % x for x in b),
                                                       serial(date, msday), date.toordinal() * 86400000 + msday))

# ---- TIMESTAMP -----------------------------------------------------------------------------------

stamps = [(2024, 1, 1, 12, 0, 0, 250000000), (1899, 12, 29, 6, 0, 0, 999999999), (1, 1, 1, 0, 0, 0, 0),
          (9999, 12, 31, 23, 59, 59, 999999999), (1970, 1, 1, 0, 0, 0, 1)]
for _ in range(200):
    d = datetime.date.fromordinal(rnd.randint(1, datetime.date(9999, 12, 31).toordinal()))
    stamps.append((d.year, d.month, d.day, rnd.randint(0, 23), rnd.randint(0, 59), rnd.randint(0, 59),
                   rnd.choice([0, rnd.randint(0, 999) * 1000000, rnd.randint(0, 999999999)])))

with open('timestamps.tsv', 'w') as out:
    out.write('# year month day hour minute second nanoseconds\ttext\tTDateTime (whole ms)\tms\n')
    for y, mo, d, h, mi, s, ns in stamps:
        date = datetime.date(y, mo, d)
        ms = ns // 1000000
        text = '%04d-%02d-%02d %02d:%02d:%02d.%09d' % (y, mo, d, h, mi, s, ns)
        msday = ((h * 60 + mi) * 60 + s) * 1000 + ms
        out.write('%d %d %d %d %d %d %d\t%s\t%r\t%d\n' % (y, mo, d, h, mi, s, ns, text, serial(date, msday), ms))

# ---- INTERVAL ------------------------------------------------------------------------------------

def ds_row(td):
    sign = -1 if td < datetime.timedelta(0) else 1
    a = abs(td)
    h, rest = divmod(a.seconds, 3600)
    m, s = divmod(rest, 60)
    text = '%s%09d %02d:%02d:%02d.%06d' % ('-' if sign < 0 else '+', a.days, h, m, s, a.microseconds)
    fields = [sign * x for x in (a.days, h, m, s, a.microseconds * 1000)]
    return 'DS\t%s\t%s\n' % (text, ' '.join(map(str, fields)))

def ym_row(months):
    sign = -1 if months < 0 else 1
    y, m = divmod(abs(months), 12)
    return 'YM\t%s%09d-%02d\t%d %d\n' % ('-' if sign < 0 else '+', y, m, sign * y, sign * m)

deltas = [datetime.timedelta(0), datetime.timedelta(days=5, hours=3), datetime.timedelta(microseconds=-1),
          datetime.timedelta(days=-1, seconds=1), datetime.timedelta(days=999999999, seconds=86399,
                                                                    microseconds=999999)]
for _ in range(150):
    deltas.append(datetime.timedelta(days=rnd.choice([rnd.randint(-40, 40), rnd.randint(-999999, 999999)]),
                                     seconds=rnd.randint(0, 86399), microseconds=rnd.randint(0, 999999)))
months = [0, 1, -1, 11, 12, -13, 999999999 * 12 + 11]
months += [rnd.randint(-1200000, 1200000) for _ in range(60)]

with open('intervals.tsv', 'w') as out:
    out.write('# kind\ttext (leading precision 9, fraction precision 6)\tsigned fields\n')
    for td in deltas:
        out.write(ds_row(td))
    for m in months:
        out.write(ym_row(m))
