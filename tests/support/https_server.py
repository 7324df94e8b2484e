#!/usr/bin/env python3
"""Stand-in for the maker's firmware web server, for tests.

Usage: https_server.py --cert server.pem --key server.key --config config.json --log requests.jsonl

Prints "PORT <n>" on stdout once listening on 127.0.0.1 (an ephemeral port).
The config file is read again for every request, so a test changes behaviour by
rewriting it. Keys (all optional):
  lookup:        "url" (default) | "empty" | "notjson" | "number" | "nourl" | "error"
  lookup_url:    the "url" member to answer with (default: this server's /images/<image_name>)
  image_name:    file name under /images/ (default "fw_3_2.bin")
  image_file:    path of the bytes served for the image
  image:         "ok" (default) | "error"
  status:        "ok" (default) | "error"
  error_code:    HTTP status used by the "error" answers (default 404)
  delay_lookup, delay_image, delay_status: seconds to wait before answering
Every request is appended to the log as one JSON object per line:
  {"method", "path", "headers": {name: value}, "body": text (latin-1)}
"""
import argparse
import json
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOOKUP_PATH = "/misc/lookupVQS.php"
STATUS_PATH = "/misc/upgradeStatus.php"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    log_lock = threading.Lock()

    def log_message(self, fmt, *args):  # keep the test output clean
        pass

    def config(self):
        try:
            with open(self.server.config_path, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def record(self, body):
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": {k: v for k, v in self.headers.items()},
            "body": body.decode("latin-1"),
        }
        with Handler.log_lock, open(self.server.log_path, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")

    def answer(self, code, body, content_type="application/json"):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def read_body(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length > 0 else b""

    def do_POST(self):
        body = self.read_body()
        self.record(body)
        cfg = self.config()
        error_code = int(cfg.get("error_code", 404))
        if self.path == LOOKUP_PATH:
            time.sleep(float(cfg.get("delay_lookup", 0)))
            mode = cfg.get("lookup", "url")
            if mode == "error":
                return self.answer(error_code, b"not here", "text/plain")
            host = "https://%s:%d" % self.server.server_address[:2]
            url = cfg.get("lookup_url", host + "/images/" + cfg.get("image_name", "fw_3_2.bin"))
            replies = {
                "url": json.dumps({"url": url}).encode(),
                "empty": b"",
                "notjson": b"<html>no firmware</html>",
                "number": json.dumps({"url": 42}).encode(),
                "nourl": json.dumps({"version": "3.2.0.0"}).encode(),
            }
            return self.answer(200, replies.get(mode, b""))
        if self.path == STATUS_PATH:
            time.sleep(float(cfg.get("delay_status", 0)))
            if cfg.get("status", "ok") == "error":
                return self.answer(error_code, b"refused", "text/plain")
            return self.answer(200, b'{"result": "ok"}')
        self.answer(404, b"unknown path", "text/plain")

    def do_GET(self):
        self.record(b"")
        cfg = self.config()
        name = cfg.get("image_name", "fw_3_2.bin")
        if self.path != "/images/" + name:
            return self.answer(404, b"unknown path", "text/plain")
        time.sleep(float(cfg.get("delay_image", 0)))
        if cfg.get("image", "ok") == "error":
            return self.answer(int(cfg.get("error_code", 404)), b"gone", "text/plain")
        try:
            with open(cfg["image_file"], "rb") as f:
                data = f.read()
        except (KeyError, OSError):
            data = b""
        self.answer(200, data, "application/octet-stream")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.config_path = args.config
    server.log_path = args.log
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
