#!/usr/bin/env python3
"""A scripted POP3 server on 127.0.0.1 for the failure paths of the POP3 gateway.

The mailbox is a folder of letter files (name order; the unique id is the file name). As on a real
server, deletions take effect at QUIT, and a connection that ends without QUIT forgets them.
Failures, each for the letter of the given unique id (its file name):
  --fail-retr ID  RETR answers -ERR
  --drop-retr ID  the first RETR closes the connection without an answer
  --drop-dele ID  the first DELE closes the connection without an answer
Prints "PORT <n>" when listening and runs until its standard input closes. Every command is
written to DIR/commands.log as "<connection> <command>" (PASS shown as "PASS ****").
"""
import argparse
import os
import socketserver
import sys
import threading

lock = threading.Lock()
connections = [0]


class Handler(socketserver.StreamRequestHandler):
    def send(self, text):
        self.wfile.write(text.encode("latin-1") + b"\r\n")
        self.wfile.flush()

    def log(self, command):
        with open(os.path.join(opts.dir, "commands.log"), "a") as f:
            f.write("%d %s\n" % (self.number, command))

    def letters(self):
        names = sorted(os.listdir(opts.mailbox))
        return [(n, os.path.getsize(os.path.join(opts.mailbox, n))) for n in names]

    def handle(self):
        with lock:
            connections[0] += 1
            self.number = connections[0]
        self.send("+OK fake POP3 ready")
        user = None
        view = None  # letters of this session, fixed at login
        deleted = set()
        while True:
            line = self.rfile.readline()
            if not line:
                return  # lost without QUIT: deletions forgotten
            parts = line.decode("latin-1").strip().split(" ")
            command, args = parts[0].upper(), parts[1:]
            self.log("PASS ****" if command == "PASS" else " ".join([command] + args))
            number = int(args[0]) if args and args[0].isdigit() else 0
            if command == "CAPA":
                self.send("+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.")
            elif command == "USER":
                user = args[0] if args else ""
                self.send("+OK")
            elif command == "PASS":
                if user == opts.user and " ".join(args) == opts.password:
                    view = self.letters()
                    self.send("+OK logged in")
                else:
                    self.send("-ERR [AUTH] Authentication failed.")
            elif view is None:
                self.send("-ERR not logged in")
            elif command == "QUIT":
                with lock:
                    for name in deleted:
                        os.remove(os.path.join(opts.mailbox, name))
                self.send("+OK bye")
                return
            elif command == "NOOP":
                self.send("+OK")
            elif command == "STAT":
                live = [v for v in view if v[0] not in deleted]
                self.send("+OK %d %d" % (len(live), sum(v[1] for v in live)))
            elif command in ("RETR", "TOP", "UIDL", "DELE", "LIST") and number and (
                    number > len(view) or view[number - 1][0] in deleted):
                self.send("-ERR no such message")
            elif command in ("RETR", "TOP"):
                name = view[number - 1][0]
                if command == "RETR" and name in opts.drop_retr:
                    opts.drop_retr.remove(name)
                    return
                if command == "RETR" and name in opts.fail_retr:
                    self.send("-ERR retrieval failed")
                    continue
                with open(os.path.join(opts.mailbox, name), "rb") as f:
                    data = f.read()
                if command == "TOP":  # the headers only
                    data = data.split(b"\r\n\r\n", 1)[0] + b"\r\n"
                self.wfile.write(b"+OK\r\n")
                for raw in data.split(b"\r\n"):
                    self.wfile.write((b"." + raw if raw.startswith(b".") else raw) + b"\r\n")
                self.send(".")
            elif command == "UIDL" and number:
                self.send("+OK %d %s" % (number, view[number - 1][0]))
            elif command == "UIDL":
                listing = ["%d %s" % (i, v[0]) for i, v in enumerate(view, 1) if v[0] not in deleted]
                self.send("\r\n".join(["+OK"] + listing + ["."]))
            elif command == "DELE" and number:
                if view[number - 1][0] in opts.drop_dele:
                    opts.drop_dele.remove(view[number - 1][0])
                    return
                deleted.add(view[number - 1][0])
                self.send("+OK deleted")
            else:
                self.send("-ERR unknown command")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global opts
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--mailbox", required=True)
    parser.add_argument("--user", default="importer")
    parser.add_argument("--password", default="secret")
    for name in ("fail-retr", "drop-retr", "drop-dele"):
        parser.add_argument("--" + name, action="append", default=[])
    opts = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
