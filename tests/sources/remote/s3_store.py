#!/usr/bin/env python3
"""Object stores for the object-storage tests, on 127.0.0.1: moto_server checking signatures, holding the
test trees in a private bucket, and moto in this process, which checks none, serving them from a public
one. Each is reached through a relay that logs whether a request came signed (with a session token, in which region);
the private store's /moved/ paths answer 307 to the public store under another host name ("localhost",
its relay "other"). On the public relay two more buckets show the public one as an S3 store under load
shows it: "throttled" answers each object's first two requests with 503 SlowDown, "overloaded" every one.
Prints "PRIVATE_PORT PUBLIC_PORT OTHER_PORT KEY_ID SECRET" once ready; nothing without moto and boto3."""
import http.client, http.server, json, logging, os, shutil, signal, socket, subprocess, sys, threading, time
import urllib.request

try:
    import boto3
    from moto.server import ThreadedMotoServer
except ImportError:
    sys.exit(1)

www, log_path = sys.argv[1], sys.argv[2]
log_lock = threading.Lock()
throttled_requests = {}  # object key: requests seen in the throttled bucket
SLOW_DOWN = (b'<?xml version="1.0" encoding="UTF-8"?>\n<Error><Code>SlowDown</Code>'
             b'<Message>Please reduce your request rate.</Message></Error>')


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def client(service, port, key="setup", secret="setup"):
    return boto3.client(service, endpoint_url=f"http://127.0.0.1:{port}", region_name="us-east-1",
                        aws_access_key_id=key, aws_secret_access_key=secret)


def fill(bucket, port):
    s3 = client("s3", port)
    s3.create_bucket(Bucket=bucket)
    for root, _, files in os.walk(www):
        for name in files:
            path = os.path.join(root, name)
            if name in ("pyramid.tif", "deep.dzi") or "/deep_files/" in path or "/zarr/" in path:
                s3.upload_file(path, bucket, os.path.relpath(path, www))
    return s3


logging.getLogger("werkzeug").setLevel(logging.ERROR)
private_port, public_port = free_port(), free_port()
moto = subprocess.Popen([shutil.which("moto_server") or sys.exit(1), "-H", "127.0.0.1", "-p", str(private_port)],
                        stderr=subprocess.DEVNULL, env=dict(os.environ, INITIAL_NO_AUTH_ACTION_COUNT="1000000"))
signal.signal(signal.SIGTERM, lambda *_: (moto.terminate(), os._exit(0)))
ThreadedMotoServer(ip_address="127.0.0.1", port=public_port, verbose=False).start()
for _ in range(300):
    with socket.socket() as s:
        if s.connect_ex(("127.0.0.1", private_port)) == 0:
            break
    time.sleep(0.05)
iam = client("iam", private_port)
iam.create_user(UserName="viewer")
policy = {"Version": "2012-10-17", "Statement": [{"Effect": "Allow", "Action": "s3:*", "Resource": "*"}]}
iam.put_user_policy(UserName="viewer", PolicyName="read", PolicyDocument=json.dumps(policy))
key = iam.create_access_key(UserName="viewer")["AccessKey"]
fill("private", private_port)
statement = {"Effect": "Allow", "Principal": "*", "Action": "s3:GetObject", "Resource": "arn:aws:s3:::public/*"}
fill("public", public_port).put_bucket_policy(Bucket="public", Policy=json.dumps({"Statement": [statement]}))
# From here on the private store checks every signature.
urllib.request.urlopen(urllib.request.Request(f"http://127.0.0.1:{private_port}/moto-api/reset-auth", data=b"0",
                                              headers={"Content-Type": "text/plain"}))


class Relay(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        signed = "signed" if "Authorization" in self.headers else "unsigned"
        token = "token" if "x-amz-security-token" in self.headers else "no-token"
        scope = self.headers.get("Authorization", "").partition("Credential=")[2].split("/")
        region = scope[2] if len(scope) > 2 else "-"
        with log_lock, open(log_path, "a") as log:
            log.write(f"{self.server.name} {self.command} {self.path} {signed} {token} {region}\n")
        bucket, _, key = self.path[1:].partition("/")
        if self.server.name == "public" and bucket in ("throttled", "overloaded"):
            with log_lock:
                seen = throttled_requests.get(key, 0)
                throttled_requests[key] = seen + 1
            if bucket == "overloaded" or seen < 2:
                self.send_response(503)
                self.send_header("Content-Type", "application/xml")
                self.send_header("Content-Length", str(len(SLOW_DOWN)))
                self.end_headers()
                self.wfile.write(SLOW_DOWN)
                return
            self.path = "/public/" + key
        if self.path.startswith("/moved/"):
            self.send_response(307)
            self.send_header("Location", f"http://localhost:{other.server_port}/{self.path[7:]}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        upstream = http.client.HTTPConnection("127.0.0.1", self.server.upstream)
        upstream.putrequest(self.command, self.path, skip_host=True, skip_accept_encoding=True)
        for name, value in self.headers.items():
            upstream.putheader(name, value)
        upstream.endheaders()
        answer = upstream.getresponse()
        body = answer.read()
        self.send_response(answer.status)
        for name, value in answer.getheaders():
            if name.lower() not in ("content-length", "transfer-encoding", "connection", "server", "date"):
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def relay(name, upstream):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Relay)
    server.name, server.upstream = name, upstream
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


private, public, other = relay("private", private_port), relay("public", public_port), relay("other", public_port)
print(private.server_port, public.server_port, other.server_port, key["AccessKeyId"], key["SecretAccessKey"],
      flush=True)
threading.Event().wait()
