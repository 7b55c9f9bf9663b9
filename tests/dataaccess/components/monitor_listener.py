#!/usr/bin/python3
"""A monitor program on loopback for the socket monitor tests.

Listens on 127.0.0.1 (a free port, printed on the first line of standard output), decodes every
message of every connection byte for byte and writes one JSON object per message to the output
file, with "conn" the connection number. A stream that does not decode exactly (a short or
unknown message, bytes left over) is written as {"decode_error": ...}.

Modes: record (default); close (close each connection at once); silent (never read);
slow (read 64 bytes every 20 ms). The listener stops after --connections connections have ended
(record and slow) or after --seconds.
"""
import argparse
import json
import socket
import struct
import sys
import threading
import time


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def integer(self):
        if self.pos + 4 > len(self.data):
            raise ValueError("truncated integer at %d" % self.pos)
        (v,) = struct.unpack(">i", self.data[self.pos:self.pos + 4])
        self.pos += 4
        return v

    def text(self):
        n = self.integer()
        if n < 0 or self.pos + n > len(self.data):
            raise ValueError("bad text length %d at %d" % (n, self.pos))
        v = self.data[self.pos:self.pos + n].decode("utf-8")
        self.pos += n
        return v

    def params(self):
        return [{"name": self.text(), "datatype": self.text(), "paramtype": self.text(), "value": self.text()}
                for _ in range(self.integer())]


def decode(data):
    r = Reader(data)
    out = []
    while r.pos < len(data):
        code = r.integer()
        if code == 6:
            out.append({"type": 6})
            continue
        if code not in (1, 2, 4, 5):
            raise ValueError("unknown message type %d" % code)
        m = {"type": code, "pid": r.integer(), "event": r.integer(), "description": r.text()}
        if code == 2:
            m["exe"] = r.text()
        elif code == 4:
            for key in ("id", "start", "objid"):
                m[key] = r.integer()
            m["objname"] = r.text()
            m["objtype"] = r.integer()
            m["objclass"] = r.text()
            m["parentid"] = r.integer()
            m["parentname"] = r.text()
            m["parenttype"] = r.integer()
            m["parentclass"] = r.text()
            m["sql"] = r.text()
            m["params"] = r.params()
            m["callstack"] = [r.text() for _ in range(r.integer())]
        elif code == 5:
            m["id"] = r.integer()
            m["end"] = r.integer()
            m["failed"] = r.integer()
            m["error"] = r.text()
            m["params"] = r.params()
            m["rows"] = r.integer()
        out.append(m)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("output")
    ap.add_argument("--mode", default="record")
    ap.add_argument("--connections", type=int, default=1)
    ap.add_argument("--seconds", type=float, default=20)
    a = ap.parse_args()
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if a.mode == "silent":
        srv.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    print(srv.getsockname()[1], flush=True)
    deadline = time.time() + a.seconds
    results = []
    ended = 0
    srv.settimeout(0.1)
    while time.time() < deadline and ended < a.connections:
        if a.mode == "silent":
            time.sleep(0.05)
            continue
        try:
            conn, _ = srv.accept()
        except socket.timeout:
            continue
        if a.mode == "close":
            conn.close()
            ended += 1
            continue
        data = b""
        conn.settimeout(0.1)
        while time.time() < deadline:
            try:
                chunk = conn.recv(64 if a.mode == "slow" else 65536)
            except socket.timeout:
                continue
            if not chunk:
                break
            data += chunk
            if a.mode == "slow":
                time.sleep(0.02)
        conn.close()
        ended += 1
        try:
            results.append([dict(m, conn=ended) for m in decode(data)])
        except (ValueError, UnicodeDecodeError) as e:
            results.append([{"decode_error": str(e), "conn": ended}])
    with open(a.output, "w") as f:
        for msgs in results:
            for m in msgs:
                f.write(json.dumps(m, sort_keys=True) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
