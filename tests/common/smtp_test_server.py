#!/usr/bin/python3
"""A local SMTP server for the mail gateway's tests (aiosmtpd on 127.0.0.1).

Listens on a free loopback port and prints "PORT <n>" once ready. Every accepted
message is saved as <dir>/<n>.eml and summarised, after parsing with the email
package, in <dir>/<n>.txt as "key=value" lines; attachment payloads are saved as
<dir>/<n>.att<i>. Stops when its standard input closes or its lifetime ends.
"""

import argparse
import asyncio
import email
import email.policy
import os
import ssl
import subprocess
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def escape(value):
    return str(value).replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")


def raw_header_lines(raw, name):
    """Physical lines of a header in the raw message (folding shows as more than one)."""
    head = raw.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
    prefix = name.lower().encode() + b":"
    for i, line in enumerate(head):
        if line.lower().startswith(prefix):
            lines = [line]
            for cont in head[i + 1:]:
                if cont[:1] in (b" ", b"\t"):
                    lines.append(cont)
                else:
                    break
            return lines
    return []


class Handler:
    def __init__(self, folder, reject_prefix):
        self.folder = folder
        self.reject_prefix = reject_prefix
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.reject_prefix and address.startswith(self.reject_prefix):
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        n = self.count
        raw = envelope.original_content
        with open(os.path.join(self.folder, f"{n}.eml"), "wb") as f:
            f.write(raw)
        msg = email.message_from_bytes(raw, policy=email.policy.compat32)
        out = {
            "conn": server.conn_no,
            "tls": 1 if session.ssl is not None or server.transport.get_extra_info("sslcontext") else 0,
            "auth": session.auth_data.login.decode("latin-1")
            if isinstance(session.auth_data, LoginPassword) else "-",
            "mail_from": envelope.mail_from,
            "rcpt_to": ",".join(envelope.rcpt_tos),
            "from": msg["From"],
            "to": msg["To"],
            "subject_lines": len(raw_header_lines(raw, "Subject")),
            "subject_hex": b"".join(raw_header_lines(raw, "Subject"))[len("Subject:"):].lstrip(b" ").hex(),
            "mime_version": msg["MIME-Version"],
            "date": msg["Date"],
            "content_type": msg.get_content_type(),
            "x_mailer": msg["X-Mailer"] or "-",
        }
        defects = len(msg.defects)
        attachments = 0
        for part in msg.walk():
            defects += len(part.defects)
            if part.is_multipart():
                continue
            if part.get_filename() is not None:
                payload = part.get_payload(decode=True)
                with open(os.path.join(self.folder, f"{n}.att{attachments}"), "wb") as f:
                    f.write(payload)
                out[f"att_name{attachments}"] = part.get_filename()
                out[f"att_type{attachments}"] = part.get_content_type()
                attachments += 1
            elif part.get_content_type() == "text/plain":
                out["text_charset"] = part.get_content_charset()
                out["text_encoding"] = part["Content-Transfer-Encoding"]
                out["text_hex"] = part.get_payload(decode=True).hex()
        out["attachments"] = attachments
        out["defects"] = defects
        tmp = os.path.join(self.folder, f"{n}.tmp")
        with open(tmp, "w", encoding="utf-8") as f:
            for key, value in out.items():
                f.write(f"{key}={escape(value)}\n")
        os.rename(tmp, os.path.join(self.folder, f"{n}.txt"))
        return "250 Message accepted"


def make_tls_context(folder):
    key = os.path.join(folder, "server.key")
    crt = os.path.join(folder, "server.crt")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
         "-subj", "/CN=localhost", "-keyout", key, "-out", crt],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(crt, key)
    return ctx


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dir", required=True)
    ap.add_argument("--tls", action="store_true", help="implicit TLS from the first byte")
    ap.add_argument("--user")
    ap.add_argument("--password")
    ap.add_argument("--reject-rcpt", default="reject")
    ap.add_argument("--lifetime", type=float, default=120)
    args = ap.parse_args()

    handler = Handler(args.dir, args.reject_rcpt)
    ctx = make_tls_context(args.dir) if args.tls else None

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    connections = [0]

    def factory():
        connections[0] += 1
        kwargs = dict(hostname="localhost", loop=loop, timeout=30)
        if args.user is not None:
            kwargs.update(authenticator=authenticator, auth_required=True, auth_require_tls=False)
        proto = SMTP(handler, **kwargs)
        proto.conn_no = connections[0]
        return proto

    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=0, ssl=ctx))
    port = server.sockets[0].getsockname()[1]
    print(f"PORT {port}", flush=True)

    def wait_stdin():
        sys.stdin.buffer.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=wait_stdin, daemon=True).start()
    loop.call_later(args.lifetime, loop.stop)
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    import warnings
    warnings.simplefilter("ignore")
    main()
