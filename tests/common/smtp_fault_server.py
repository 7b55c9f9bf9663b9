#!/usr/bin/python3
"""A scripted SMTP server on 127.0.0.1 for the gateway's connection-fault tests.

Prints "PORT <n>" once listening and stops when its standard input closes. Every
connection is numbered from 1; the fault hits only the first connection:

  hang  the first letter's message is read but never answered (the client times out)
  drop  the first letter is accepted, then the connection is closed without a word
  reset the first letter's message is answered by closing the connection

Later connections accept every letter. Each accepted letter is logged to
<dir>/letters as "<connection> <recipient>" lines.
"""

import argparse
import os
import socket
import sys
import threading


def serve(conn, number, fault, folder):
    f = conn.makefile("rb")

    def send(line):
        conn.sendall(line.encode() + b"\r\n")

    try:
        send("220 localhost fault server")
        letters = 0
        rcpt = ""
        while True:
            line = f.readline()
            if not line:
                return
            cmd = line.decode("latin-1").strip()
            verb = cmd.split(" ", 1)[0].upper()
            if verb in ("EHLO", "HELO"):
                send("250 localhost")
            elif verb == "MAIL":
                rcpt = ""
                send("250 OK")
            elif verb == "RCPT":
                rcpt = cmd.split(":", 1)[1].strip().strip("<>")
                send("250 OK")
            elif verb == "DATA":
                send("354 Go ahead")
                while True:
                    data = f.readline()
                    if not data or data == b".\r\n":
                        break
                if not data:
                    return
                letters += 1
                if number == 1 and fault == "hang":
                    threading.Event().wait(600)
                    return
                if number == 1 and fault == "reset":
                    return
                with open(os.path.join(folder, "letters"), "a") as out:
                    out.write(f"{number} {rcpt}\n")
                send("250 Accepted")
                if number == 1 and fault == "drop":
                    return
            elif verb == "RSET" or verb == "NOOP":
                send("250 OK")
            elif verb == "QUIT":
                send("221 Bye")
                return
            else:
                send("502 Not implemented")
    except OSError:
        pass
    finally:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dir", required=True)
    ap.add_argument("--fault", choices=["hang", "drop", "reset"], required=True)
    args = ap.parse_args()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(f"PORT {listener.getsockname()[1]}", flush=True)

    def accept_loop():
        number = 0
        while True:
            conn, _ = listener.accept()
            number += 1
            threading.Thread(target=serve, args=(conn, number, args.fault, args.dir), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    sys.stdin.buffer.read()


if __name__ == "__main__":
    main()
