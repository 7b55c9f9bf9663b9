#!/usr/bin/env python3
"""Expected serial numbers and time stamps for civil date-times. TDateTime counts days since
1899-12-30; before that day the time is subtracted (sign-magnitude). TTimeStamp.Date is the
proleptic ordinal (date.toordinal()), Time the milliseconds of the day. Writes dates.tsv."""
import datetime
import random

EPOCH = datetime.date(1899, 12, 30).toordinal()  # 693594

def row(y, mo, d, h, mi, s, ms):
    ordinal = datetime.date(y, mo, d).toordinal()
    days = ordinal - EPOCH
    msday = ((h * 60 + mi) * 60 + s) * 1000 + ms
    frac = msday / 86400000
    serial = days + frac if days >= 0 else days - frac
    msecs = ordinal * 86400000 + msday
    dow = (datetime.date(y, mo, d).isoweekday() % 7) + 1  # 1 = Sunday
    return [str(v) for v in (y, mo, d, h, mi, s, ms)] + [repr(serial), str(msday), str(ordinal), str(msecs), str(dow)]

fixed = [(1899, 12, 30, 0, 0, 0, 0), (1899, 12, 29, 6, 0, 0, 0), (1899, 12, 29, 18, 0, 0, 0),
         (1899, 12, 31, 0, 0, 0, 1), (1900, 1, 1, 0, 0, 0, 0), (1900, 3, 1, 12, 0, 0, 0),
         (2000, 1, 1, 0, 0, 0, 0), (2000, 2, 29, 23, 59, 59, 999), (1970, 1, 1, 0, 0, 0, 0),
         (1, 1, 1, 0, 0, 0, 0), (9999, 12, 31, 23, 59, 59, 999), (987, 3, 5, 7, 8, 9, 0),
         (1600, 2, 29, 12, 30, 0, 0), (1582, 10, 10, 1, 2, 3, 4), (2024, 12, 31, 13, 14, 15, 16),
         (2100, 3, 1, 0, 0, 1, 0), (1899, 1, 1, 23, 0, 0, 0)]
rnd = random.Random(1899)
rows = [row(*f) for f in fixed]
for _ in range(200):
    o = rnd.randint(1, datetime.date(9999, 12, 31).toordinal())
    d = datetime.date.fromordinal(o)
    rows.append(row(d.year, d.month, d.day, rnd.randint(0, 23), rnd.randint(0, 59), rnd.randint(0, 59),
                    rnd.randint(0, 999)))
with open('dates.tsv', 'w') as f:
    f.write('# y\tm\td\th\tn\ts\tms\tTDateTime\tTimeStamp.Time\tTimeStamp.Date\tMSecs\tDayOfWeek\n')
    for r in rows:
        f.write('\t'.join(r) + '\n')
