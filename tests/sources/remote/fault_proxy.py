#!/usr/bin/env python3
"""A proxy for the remote pictures' tests: forwards GET requests to an upstream HTTP server, adding
latency, a bandwidth limit and faults, and logs what it did.

    fault_proxy.py --upstream http://127.0.0.1:PORT --rules FILE --log FILE [--latency-ms N] [--rate B/s]

Prints the port it listens on (on 127.0.0.1), then serves until killed.

The rules file, read again whenever it changes, holds one rule a line, "SUBSTRING FAULT [TIMES] [ARG]":
a request whose path contains SUBSTRING gets FAULT, for its first TIMES requests (0 or none: always).
FAULT is an HTTP status (404, 500, ...; 429 and 503 send ARG as Retry-After: seconds, or "date+N" for an
HTTP date N seconds ahead), "stall" (headers and half the body, then nothing), "truncate" (half the
body, then the connection closes), "reset" (the connection is reset before any answer), "nostore"
(forwarded with Cache-Control: no-store), "big" (ARG bytes of zeros as the body), "delay" (forwarded
after ARG milliseconds) or "redirect" (302 to ARG).

The log has a line a request, "PATH FAULT RUNNING AUTH": RUNNING the requests under way with it, AUTH
"auth" when it carried credentials, else "-"; and "gone PATH" when a client left a stalled answer.
"""
import argparse
import email.utils
import http.client
import http.server
import os
import select
import socket
import struct
import sys
import threading
import time
import urllib.parse


class Rules:
    def __init__(self, path):
        self.path = path
        self.stamp = None
        self.rules = []
        self.lock = threading.Lock()

    def match(self, request_path):
        with self.lock:
            try:
                stamp = os.stat(self.path).st_mtime_ns
            except OSError:
                stamp = None
            if stamp != self.stamp:
                self.stamp = stamp
                self.rules = []
                if stamp is not None:
                    with open(self.path) as f:
                        for line in f:
                            parts = line.split()
                            if len(parts) >= 2:
                                times = int(parts[2]) if len(parts) > 2 else 0
                                arg = parts[3] if len(parts) > 3 else ""
                                self.rules.append([parts[0], parts[1], times, arg, 0])
            for rule in self.rules:
                if rule[0] in request_path and (rule[2] == 0 or rule[4] < rule[2]):
                    rule[4] += 1
                    return rule[1], rule[3]
        return None, None


class Proxy(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that hung up (a cancelled read) is no error of the proxy's


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def note(self, line):
        with self.server.log_lock:
            with open(self.server.log_path, "a") as f:
                f.write(line + "\n")

    def upstream(self):
        connection = http.client.HTTPConnection(self.server.upstream_host, self.server.upstream_port, timeout=30)
        headers = {k: v for k, v in self.headers.items() if k.lower() in ("range", "accept")}
        connection.request("GET", self.path, headers=headers)
        response = connection.getresponse()
        body = response.read()
        kept = [(k, v) for k, v in response.getheaders()
                if k.lower() in ("content-type", "content-range", "cache-control", "accept-ranges", "location")]
        connection.close()
        return response.status, kept, body

    def send(self, status, headers, body, length=None):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()

    def write_slowly(self, body):
        rate = self.server.rate
        chunk = 16384
        for start in range(0, len(body), chunk):
            piece = body[start:start + chunk]
            self.wfile.write(piece)
            if rate > 0:
                time.sleep(len(piece) / rate)

    def client_gone(self):
        readable, _, _ = select.select([self.connection], [], [], 0.02)
        if readable:
            try:
                return self.connection.recv(1, socket.MSG_PEEK) == b""
            except OSError:
                return True
        return False

    def do_GET(self):
        with self.server.log_lock:
            self.server.running += 1
            running = self.server.running
        try:
            self.answer(running)
        finally:
            with self.server.log_lock:
                self.server.running -= 1

    def answer(self, running):
        fault, arg = self.server.rules.match(self.path)
        auth = "auth" if self.headers.get("Authorization") else "-"
        self.note("%s %s %d %s" % (self.path, fault or "-", running, auth))
        if self.server.latency > 0:
            time.sleep(self.server.latency)
        if fault == "delay":
            time.sleep(int(arg) / 1000.0)
        if fault == "redirect":
            self.send(302, [("Location", arg)], b"")
            return
        if fault == "reset":
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
            return
        if fault is not None and fault.isdigit():
            status = int(fault)
            headers = []
            if status in (429, 503) and arg:
                if arg.startswith("date+"):
                    value = email.utils.formatdate(time.time() + int(arg[5:]), usegmt=True)
                else:
                    value = arg
                headers.append(("Retry-After", value))
            body = ("%d\n" % status).encode()
            self.send(status, headers, body)
            self.wfile.write(body)
            return
        if fault == "big":
            body = b"\0" * int(arg)
            self.send(200, [("Content-Type", "image/png")], body)
            self.write_slowly(body)
            return
        status, headers, body = self.upstream()
        if fault == "nostore":
            headers = [(k, v) for k, v in headers if k.lower() != "cache-control"]
            headers.append(("Cache-Control", "no-store"))
        if fault in ("stall", "truncate"):
            self.close_connection = True
            try:
                self.send(status, headers, body)
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
            except OSError:
                # The client left before the half answer went out (a slow upstream on a loaded machine).
                if fault == "stall":
                    self.note("gone %s" % self.path)
                return
            if fault == "truncate":
                return
            deadline = time.time() + 60
            while time.time() < deadline:
                if self.client_gone():
                    self.note("gone %s" % self.path)
                    return
            return
        self.send(status, headers, body)
        self.write_slowly(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--upstream", required=True)
    parser.add_argument("--rules", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--latency-ms", type=float, default=0)
    parser.add_argument("--rate", type=float, default=0)
    options = parser.parse_args()
    upstream = urllib.parse.urlsplit(options.upstream)
    server = Proxy(("127.0.0.1", 0), Handler)
    server.upstream_host = upstream.hostname
    server.upstream_port = upstream.port or 80
    server.rules = Rules(options.rules)
    server.log_path = options.log
    server.log_lock = threading.Lock()
    server.running = 0
    server.latency = options.latency_ms / 1000.0
    server.rate = options.rate
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
