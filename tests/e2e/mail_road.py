#!/usr/bin/env python3
"""The web side's end of the main job's test, written from the exchange's formats alone.

send PORT USER PASSWORD FILE...   mails each package to the SMTP server on 127.0.0.1:PORT (AUTH with
                                  USER and PASSWORD), one letter each, its subject signed as the web
                                  side signs it (issuer 7, branch 1)
packages PLACE                    prints the PackageId of every export package found in PLACE: the
                                  archives of a folder, or the attachments of the letters of a
                                  Maildir (PLACE/new and PLACE/cur); one id a line
subjects MAILDIR                  prints the subject of every letter left in the Maildir
"""
import email
import email.policy
import hashlib
import io
import os
import random
import re
import smtplib
import string
import sys
import time
import zipfile
from email.message import EmailMessage

KEY = "KPmw7Dюжr3".encode("cp1251")
ARCHIVE_PASSWORD = b"KEB_LO_SUM"
PACKAGE_ID = re.compile(rb'PackageId="(\{[0-9A-Fa-f-]{36}\})"')


def signed(prefix, issuer, branch):
    stamp = time.strftime("%Y%m%d%H%M%S") + "".join(random.choice(string.ascii_letters) for _ in range(5))
    body = prefix + "%04d%02d" % (issuer, branch) + stamp.encode("cp1251").hex()
    return body + hashlib.md5(body.encode("cp1251") + KEY).hexdigest()


def send(port, user, password, files):
    with smtplib.SMTP("127.0.0.1", int(port), timeout=30) as s:
        s.login(user, password)
        for name in files:
            m = EmailMessage()
            m["From"], m["To"], m["Subject"] = "web@example.test", "qel@example.test", signed("WebExport", 7, 1)
            m.set_content("Web package")
            with open(name, "rb") as f:
                m.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                                 filename=os.path.basename(name))
            s.send_message(m)


def ids_in_archive(data):
    ids = set()
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        for info in z.infolist():
            ids.update(m.decode() for m in PACKAGE_ID.findall(z.read(info, pwd=ARCHIVE_PASSWORD)))
    return ids


def letters(maildir):
    for sub in ("new", "cur"):
        folder = os.path.join(maildir, sub)
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), "rb") as f:
                yield email.message_from_binary_file(f, policy=email.policy.default)


def packages(place):
    ids = set()
    if os.path.isdir(os.path.join(place, "new")):
        for letter in letters(place):
            for part in letter.iter_attachments():
                if (part.get_filename() or "").lower().endswith(".zip"):
                    ids |= ids_in_archive(part.get_content())
    else:
        for name in sorted(os.listdir(place)):
            if name.lower().endswith(".zip"):
                with open(os.path.join(place, name), "rb") as f:
                    ids |= ids_in_archive(f.read())
    for i in sorted(ids):
        print(i)


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "send":
        send(args[0], args[1], args[2], args[3:])
    elif command == "packages":
        packages(args[0])
    elif command == "subjects":
        for letter in letters(args[0]):
            print(letter["Subject"])
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main()
