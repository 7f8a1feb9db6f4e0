#!/usr/bin/env python3
"""A link with an added round trip in front of a server on 127.0.0.1, for zarr_bench.cpp: every request
waits the round trip, then goes upstream with its headers as the client sent them (Host included, so
that a signature made for this address still holds), over a connection kept per client connection.

    delaying_proxy.py --upstream PORT --round-trip-ms 50 --log FILE

Prints its port on 127.0.0.1, then serves until killed. The log has one line a request, "STATUS PATH".
"""
import argparse
import http.client
import http.server
import threading
import time

HOP_BY_HOP = ("connection", "keep-alive", "transfer-encoding", "content-length", "proxy-connection")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True  # else each body waits for the client's delayed acknowledgement

    def log_message(self, *args):
        pass

    def forward(self):
        time.sleep(self.server.round_trip)
        if getattr(self, "upstream", None) is None:
            self.upstream = http.client.HTTPConnection("127.0.0.1", self.server.upstream_port)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        self.upstream.putrequest(self.command, self.path, skip_host=True, skip_accept_encoding=True)
        for name, value in self.headers.items():
            if name.lower() not in HOP_BY_HOP:
                self.upstream.putheader(name, value)
        if body is not None:
            self.upstream.putheader("Content-Length", str(len(body)))
        self.upstream.endheaders(body)
        answer = self.upstream.getresponse()
        data = answer.read()
        if answer.will_close:
            self.upstream.close()
            self.upstream = None
        self.send_response(answer.status)
        for name, value in answer.getheaders():
            if name.lower() not in HOP_BY_HOP + ("server", "date"):
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)
        with self.server.log_lock, open(self.server.log_path, "a") as log:
            log.write("%d %s\n" % (answer.status, self.path))

    do_GET = do_HEAD = forward


class Server(http.server.ThreadingHTTPServer):
    request_queue_size = 256  # clients open their connections together
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that leaves (a cancelled read) is no error


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--upstream", type=int, required=True)
    parser.add_argument("--round-trip-ms", type=float, default=50)
    parser.add_argument("--log", required=True)
    options = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.upstream_port = options.upstream
    server.round_trip = options.round_trip_ms / 1000.0
    server.log_path = options.log
    server.log_lock = threading.Lock()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
