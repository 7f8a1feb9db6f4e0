#!/usr/bin/env python3
"""A tile server for the remote benchmarks: a 100000 x 100000 picture as IIIF 3 (level 0, 256-pixel
tiles, scale factors 1 to 512) and as Deep Zoom (254-pixel tiles, overlap 1), every tile made on demand,
and with --root the files of a directory (byte ranges too), all behind a link with an added round trip
and a bandwidth shared by all connections.

    synthetic_tile_server.py [--round-trip-ms 50] [--rate 20e6] [--root DIR] --log FILE

Prints its port on 127.0.0.1, then serves until killed. The log has one line a request, written when it
ends: "PATH START END BYTES COMPLETE", the times in seconds of the monotonic clock (the client's
steady clock), BYTES those sent, COMPLETE 0 when the client left first (noticed at once, also while
the answer waits for its round trip).
Tiles are PNG of a gradient under light noise, about the size of a photograph's JPEG tile; a handful are
made at start and served in turn, so that making them costs nothing while serving.
"""
import argparse
import http.server
import os
import random
import re
import select
import socket
import struct
import threading
import time
import zlib

SIDE = 100000


def png(width, height, seed):
    rng = random.Random(seed)
    noise = bytes(rng.getrandbits(3) for _ in range(width * 3))
    rows = []
    for y in range(height):
        base = bytes(((x * 255 // max(1, width - 1)) ^ (y & 0xF8)) & 0xFF for x in range(width) for _ in range(3))
        row = bytes(a ^ b for a, b in zip(base, noise[(y * 7) % 3:] + noise[: (y * 7) % 3]))
        rows.append(b"\0" + row)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + \
        chunk(b"IEND", b"")


class Link:
    """A bandwidth shared by every answer: each chunk waits for its turn on the wire."""

    def __init__(self, rate):
        self.rate = rate
        self.free = 0.0
        self.lock = threading.Lock()

    def send(self, wfile, body):
        """The bytes sent before the client left (all of them when it stayed)."""
        sent = 0
        for start in range(0, len(body), 16384):
            piece = body[start:start + 16384]
            if self.rate > 0:
                with self.lock:
                    begin = max(time.monotonic(), self.free)
                    self.free = begin + len(piece) / self.rate
                    done = self.free
                delay = done - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
            try:
                wfile.write(piece)
                wfile.flush()
            except OSError:
                return sent
            sent += len(piece)
        return sent


KINDS = {".json": "application/json", ".dzi": "application/xml", ".xml": "application/xml", ".png": "image/png",
         ".jpg": "image/jpeg", ".jpeg": "image/jpeg", ".webp": "image/webp", ".tif": "image/tiff"}
IIIF_TILE = re.compile(r"^/iiif/(\d+),(\d+),(\d+),(\d+)/(\d+),(\d+)/0/default\.png$")
DZI_TILE = re.compile(r"^/deep_files/(\d+)/(\d+)_(\d+)\.png$")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # As web servers do: without it, the body's first write after the headers' waits for the client's
    # delayed acknowledgement, 40 ms a request that no real link adds.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def client_left(self, seconds):
        """Waits `seconds`; True as soon as the client closes its end."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return False
            readable, _, _ = select.select([self.connection], [], [], left)
            if readable:
                try:
                    if not self.connection.recv(1, socket.MSG_PEEK):
                        return True
                except OSError:
                    return True
                time.sleep(max(0.0, end - time.monotonic()))  # a next request waits its turn
                return False

    def answer(self, status, kind, body, headers=()):
        sent, complete = 0, False
        if not self.client_left(self.server.round_trip):
            try:
                self.send_response(status)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                for name, value in headers:
                    self.send_header(name, value)
                self.end_headers()
                sent = self.server.link.send(self.wfile, body)
                complete = sent == len(body)
            except OSError:
                pass
        if not complete:
            self.close_connection = True
        line = "%s %.6f %.6f %d %d\n" % (self.path, self.started, time.monotonic(), sent, complete)
        with self.server.log_lock, open(self.server.log_path, "a") as f:
            f.write(line)

    def file(self, path):
        """Answers with a file under --root, whole or the byte range asked for; False when there is none."""
        root = self.server.root
        if not root:
            return False
        full = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not full.startswith(os.path.realpath(root) + os.sep) or not os.path.isfile(full):
            return False
        size = os.path.getsize(full)
        kind = KINDS.get(os.path.splitext(full)[1], "application/octet-stream")
        m = re.match(r"^bytes=(\d+)-(\d*)$", self.headers.get("Range", ""))
        first, last = (int(m.group(1)), min(int(m.group(2)) if m.group(2) else size - 1, size - 1)) if m else (0, size - 1)
        if first > last:
            self.answer(416, "text/plain", b"", [("Content-Range", "bytes */%d" % size)])
            return True
        with open(full, "rb") as f:  # only the range: libtiff's reads are small parts of large files
            f.seek(first)
            data = f.read(last + 1 - first)
        if not m:
            self.answer(200, kind, data)
        else:
            self.answer(206, kind, data, [("Content-Range", "bytes %d-%d/%d" % (first, last, size))])
        return True

    def tile(self, width, height):
        if width < 1 or height < 1 or width > 256 or height > 256:
            return None
        key = (width, height, self.server.turn % 8)
        self.server.turn += 1
        with self.server.tiles_lock:
            if key not in self.server.tiles:
                self.server.tiles[key] = png(width, height, key[2])
            return self.server.tiles[key]

    def do_GET(self):
        self.started = time.monotonic()
        path = self.path
        if path == "/iiif/info.json":
            scales = ",".join(str(1 << k) for k in range(10))
            body = ('{"@context":"http://iiif.io/api/image/3/context.json","id":"http://127.0.0.1:%d/iiif",'
                    '"type":"ImageService3","protocol":"http://iiif.io/api/image","profile":"level0",'
                    '"width":%d,"height":%d,"preferredFormats":["png"],'
                    '"tiles":[{"width":256,"scaleFactors":[%s]}]}' % (self.server.server_address[1], SIDE, SIDE, scales))
            return self.answer(200, "application/json", body.encode())
        if path == "/deep.dzi":
            body = ('<?xml version="1.0"?><Image xmlns="http://schemas.microsoft.com/deepzoom/2008" TileSize="254" '
                    'Overlap="1" Format="png"><Size Width="%d" Height="%d"/></Image>' % (SIDE, SIDE))
            return self.answer(200, "application/xml", body.encode())
        m = IIIF_TILE.match(path)
        if m:
            body = self.tile(int(m.group(5)), int(m.group(6)))
            if body:
                return self.answer(200, "image/png", body)
        m = DZI_TILE.match(path)
        if m:
            level, column, row = int(m.group(1)), int(m.group(2)), int(m.group(3))
            side = -(-SIDE // (1 << (17 - level))) if level <= 17 else 0
            x0, y0 = column * 254, row * 254
            if side and x0 < side and y0 < side:
                width = min(254, side - x0) + (1 if column > 0 else 0) + (1 if x0 + 254 < side else 0)
                height = min(254, side - y0) + (1 if row > 0 else 0) + (1 if y0 + 254 < side else 0)
                body = self.tile(width, height)
                if body:
                    return self.answer(200, "image/png", body)
        if not self.file(path):
            self.answer(404, "text/plain", b"not found\n")


class Server(http.server.ThreadingHTTPServer):
    # Python's default of 5 pending connections drops a client's ninth connection or so when they come
    # together, and the client's kernel tries again a second later: real servers queue hundreds.
    request_queue_size = 256

    def handle_error(self, request, client_address):
        pass  # a client that leaves (the view cancelling a tile) is no error


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--round-trip-ms", type=float, default=50)
    parser.add_argument("--rate", type=float, default=20e6)
    parser.add_argument("--root", default="")
    parser.add_argument("--log", required=True)
    options = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.round_trip = options.round_trip_ms / 1000.0
    server.link = Link(options.rate)
    server.log_path = options.log
    server.log_lock = threading.Lock()
    server.root = options.root
    server.tiles = {}
    server.tiles_lock = threading.Lock()
    server.turn = 0
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
