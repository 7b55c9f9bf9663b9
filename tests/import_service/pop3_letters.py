#!/usr/bin/env python3
"""Letters for the POP3 gateway tests, made and checked with Python's own mail modules.

fill LETTERS OUT [--maildir DIR | --folder DIR]
    LETTERS is a JSON file with a list of letters, each {"subject": ..., "attachments": [...]}:
      subject: {"signed": PREFIX} a subject signed with the subject key,
               {"upper": PREFIX} the same with its signature in upper case,
               {"badkey": PREFIX} signed with another key,
               {"text": TEXT} as it stands,
               "pad": true puts blanks around the subject (inside an encoded word).
      attachment: {"name": NAME, "form": "plain" | "rfc2231" | "rfc2047" | "cp1251" | "none",
                   "size": N} (random content) or "file": PATH (the content of that file)
    The letters go into a Maildir (new/) or, one file per letter, into a folder. OUT receives the
    content of attachment j of letter i as "i_j" and a file "subjects" with one subject per line.
list HOST PORT USER PASSWORD [--tls]
    Prints the subject of every letter left in the mailbox, one per line, through poplib.
"""
import argparse
import base64
import email.header
import email.message
import email.policy
import hashlib
import json
import mailbox
import os
import poplib
import random
import ssl
import sys
import time
import urllib.parse

KEY = "KPmw7Dюжr3".encode("cp1251")


def signed(prefix, rng, key=KEY):
    stamp = time.strftime("%Y%m%d%H%M%S") + "".join(rng.choice("abcdefghijklmnopqrstuvwxyz!@#$%") for _ in range(5))
    body = prefix + "%.4d%.2d" % (703, 1) + stamp.encode("cp1251").hex()
    return body + hashlib.md5(body.encode("cp1251") + key).hexdigest()


def subject_of(wanted, rng):
    if "signed" in wanted:
        return signed(wanted["signed"], rng)
    if "upper" in wanted:
        s = signed(wanted["upper"], rng)
        return s[:-32] + s[-32:].upper()
    if "badkey" in wanted:
        return signed(wanted["badkey"], rng, b"another key")
    return wanted["text"]


def attach(message, wanted, content):
    part = email.message.Message()
    part.set_type("application/octet-stream")
    part["Content-Transfer-Encoding"] = "base64"
    part.set_payload(base64.encodebytes(content).decode("ascii"))
    name, form = wanted["name"], wanted.get("form", "plain")
    if form == "plain":
        part.add_header("Content-Disposition", "attachment", filename=name)
    elif form == "rfc2231":
        part["Content-Disposition"] = "attachment; filename*=utf-8''" + urllib.parse.quote(name.encode("utf-8"))
    elif form == "cp1251":
        part["Content-Disposition"] = "attachment; filename*=windows-1251''" + urllib.parse.quote(
            name.encode("cp1251"))
    elif form == "rfc2047":
        encoded = email.header.Header(name, "utf-8").encode()
        part["Content-Disposition"] = 'attachment; filename="%s"' % encoded
    else:
        part["Content-Disposition"] = "attachment"
    message.attach(part)


def fill(args):
    letters = json.load(open(args.letters, encoding="utf-8"))
    rng = random.Random(11)
    os.makedirs(args.out, exist_ok=True)
    box = mailbox.Maildir(args.maildir, create=True) if args.maildir else None
    if args.folder:
        os.makedirs(args.folder, exist_ok=True)
    subjects = []
    for i, letter in enumerate(letters, 1):
        subject = subject_of(letter["subject"], rng)
        message = email.message.Message()
        message["From"] = "Web Portal <web@portal.example>"
        message["To"] = "import@bank.example"
        if letter.get("pad"):
            message["Subject"] = "=?us-ascii?Q?__" + subject + "_?="
            subject = "  " + subject + " "
        else:
            message["Subject"] = subject
        message["MIME-Version"] = "1.0"
        message.set_type("multipart/mixed")
        text = email.message.Message()
        text.set_type("text/plain")
        text.set_param("charset", "windows-1251")
        text.set_payload("Package letter\r\n.\r\n..dots stay\r\n")
        message.attach(text)
        for j, a in enumerate(letter.get("attachments", [])):
            if "file" in a:
                with open(a["file"], "rb") as f:
                    content = f.read()
            else:
                content = bytes(rng.randrange(256) for _ in range(a.get("size", 1000)))
            with open(os.path.join(args.out, "%d_%d" % (i, j)), "wb") as f:
                f.write(content)
            attach(message, a, content)
        raw = message.as_bytes(policy=email.policy.compat32.clone(linesep="\r\n"))
        if box is not None:
            box.add(raw)
        else:
            with open(os.path.join(args.folder, "%03d.eml" % i), "wb") as f:
                f.write(raw)
        subjects.append(subject)
    with open(os.path.join(args.out, "subjects"), "w", encoding="utf-8") as f:
        f.write("".join(s + "\n" for s in subjects))


def list_letters(args):
    if args.tls:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        client = poplib.POP3_SSL(args.host, args.port, context=context, timeout=15)
    else:
        client = poplib.POP3(args.host, args.port, timeout=15)
    client.user(args.user)
    client.pass_(args.password)
    count, _ = client.stat()
    for n in range(1, count + 1):
        _, lines, _ = client.top(n, 0)
        message = email.message_from_bytes(b"\r\n".join(lines), policy=email.policy.default)
        print(message["Subject"].strip())
    client.quit()


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    f = sub.add_parser("fill")
    f.add_argument("letters")
    f.add_argument("out")
    f.add_argument("--maildir")
    f.add_argument("--folder")
    f.set_defaults(run=fill)
    g = sub.add_parser("list")
    g.add_argument("host")
    g.add_argument("port", type=int)
    g.add_argument("user")
    g.add_argument("password")
    g.add_argument("--tls", action="store_true")
    g.set_defaults(run=list_letters)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    sys.exit(main())
