#!/usr/bin/env python3
"""zarr_bench.cpp's object store: moto_server on 127.0.0.1 holding a directory's files in the private
bucket "bench" under the directory's name, readable with a key of its own once the files are in, every signature checked from then on.

    zarr_s3_store.py DIR

Prints "PORT KEY_ID SECRET" once ready, then waits until killed (ending moto_server with it).
Needs moto and boto3; exits with 1 without them."""
import concurrent.futures
import json
import logging
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.request

try:
    import boto3
except ImportError:
    sys.exit(1)

root = os.path.normpath(sys.argv[1])
logging.getLogger("botocore").setLevel(logging.ERROR)
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
moto = subprocess.Popen([shutil.which("moto_server") or sys.exit(1), "-H", "127.0.0.1", "-p", str(port)],
                        stderr=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                        env=dict(os.environ, INITIAL_NO_AUTH_ACTION_COUNT="1000000"))
signal.signal(signal.SIGTERM, lambda *_: (moto.terminate(), os._exit(0)))
for _ in range(600):
    with socket.socket() as s:
        if s.connect_ex(("127.0.0.1", port)) == 0:
            break
    time.sleep(0.05)


def client(service):
    return boto3.client(service, endpoint_url=f"http://127.0.0.1:{port}", region_name="us-east-1",
                        aws_access_key_id="setup", aws_secret_access_key="setup")


iam = client("iam")
iam.create_user(UserName="viewer")
policy = {"Version": "2012-10-17", "Statement": [{"Effect": "Allow", "Action": "s3:*", "Resource": "*"}]}
iam.put_user_policy(UserName="viewer", PolicyName="read", PolicyDocument=json.dumps(policy))
key = iam.create_access_key(UserName="viewer")["AccessKey"]
s3 = client("s3")
s3.create_bucket(Bucket="bench")
files = [os.path.join(d, name) for d, _, names in os.walk(root) for name in names]
local = threading.local()


def upload(path):
    if not hasattr(local, "s3"):
        local.s3 = client("s3")
    local.s3.upload_file(path, "bench", os.path.relpath(path, os.path.dirname(root)))


with concurrent.futures.ThreadPoolExecutor(8) as pool:
    list(pool.map(upload, files))
# From here on every request must be signed with the viewer's key.
urllib.request.urlopen(urllib.request.Request(f"http://127.0.0.1:{port}/moto-api/reset-auth", data=b"0",
                                              headers={"Content-Type": "text/plain"}))
print(port, key["AccessKeyId"], key["SecretAccessKey"], flush=True)
threading.Event().wait()
