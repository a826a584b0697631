#!/usr/bin/env python3
"""Loopback HTTP server for the update downloader's tests (Python 3 standard library only).

  test_server.py start DIR   starts the server in the background, bounded by `timeout`, in its own
                             session; it serves DIR/www on 127.0.0.1 at a free port, written to
                             DIR/port, and its PID is written to DIR/pid. Returns once it listens.
  test_server.py stop DIR    stops the server whose PID DIR/pid holds.
  test_server.py serve DIR   runs the server in the foreground.

GET /<folder>/<name> answers with the file DIR/www/<folder>/<name>. Marker files beside it change
the answer:
  <name>.status    holds an HTTP status code: that status with a short HTML error page
  <name>.trickle   the file is sent 16 KiB every 50 ms (so that the client sees many progress reports)
  <name>.stall     the request is accepted and nothing is ever sent (until the client goes away)
  <name>.drop      the headers announce the whole file, half of it is sent, then the connection is
                   closed
A file that does not exist gets 404.
"""
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LIFETIME_S = 3600         # the server ends on its own after this long
STALL_LIMIT_S = 120       # a stalled answer is given up after this long
TRICKLE_CHUNK = 16 * 1024
TRICKLE_DELAY_S = 0.05


class Handler(BaseHTTPRequestHandler):
    root = "."

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (time.strftime("%H:%M:%S"), fmt % args))

    def _path(self):
        parts = [p for p in self.path.split("?")[0].split("/") if p]
        if not parts or any(p in (".", "..") for p in parts):
            return None
        return os.path.join(self.root, *parts)

    def _error(self, code):
        body = ("<html><body><h1>%d</h1>Error page of the test server.</body></html>" % code).encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _stall(self):
        deadline = time.time() + STALL_LIMIT_S
        while time.time() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 0.5)
            if readable:
                try:
                    if not self.connection.recv(4096):
                        return
                except OSError:
                    return

    def do_GET(self):
        path = self._path()
        if path is None:
            return self._error(404)
        if os.path.exists(path + ".stall"):
            return self._stall()
        if os.path.exists(path + ".status"):
            with open(path + ".status") as f:
                return self._error(int(f.read().strip()))
        if not os.path.isfile(path):
            return self._error(404)
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        try:
            if os.path.exists(path + ".drop"):
                self.wfile.write(data[:len(data) // 2])
                self.wfile.flush()
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
            elif os.path.exists(path + ".trickle"):
                for start in range(0, len(data), TRICKLE_CHUNK):
                    self.wfile.write(data[start:start + TRICKLE_CHUNK])
                    self.wfile.flush()
                    time.sleep(TRICKLE_DELAY_S)
            else:
                self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass


def serve(folder):
    www = os.path.join(folder, "www")
    os.makedirs(www, exist_ok=True)
    Handler.root = www
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    port_file = os.path.join(folder, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


def start(folder):
    os.makedirs(folder, exist_ok=True)
    port_file = os.path.join(folder, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    shutil.rmtree(os.path.join(folder, "www"), ignore_errors=True)   # folders of earlier runs
    log = open(os.path.join(folder, "server.log"), "ab")
    process = subprocess.Popen(["timeout", str(LIFETIME_S), sys.executable, os.path.abspath(__file__), "serve", folder],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log,
                               start_new_session=True)
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write("%d\n" % process.pid)
    for _ in range(200):
        if os.path.exists(port_file):
            with open(port_file) as f:
                print("test server on 127.0.0.1:%s (pid %d)" % (f.read().strip(), process.pid))
            return 0
        if process.poll() is not None:
            break
        time.sleep(0.05)
    sys.stderr.write("test server did not start; see %s\n" % os.path.join(folder, "server.log"))
    return 1


def stop(folder):
    pid_file = os.path.join(folder, "pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)   # timeout passes the signal on to the server
    except ProcessLookupError:
        pass
    for _ in range(100):
        try:
            os.kill(pid, 0)
            with open("/proc/%d/stat" % pid) as f:
                if f.read().split(")")[-1].split()[0] == "Z":
                    break   # ended; only waiting to be reaped
        except (ProcessLookupError, OSError):
            break
        time.sleep(0.05)
    os.remove(pid_file)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "serve"):
        sys.stderr.write(__doc__)
        sys.exit(2)
    command, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    if command == "serve":
        serve(folder)
    else:
        sys.exit(start(folder) if command == "start" else stop(folder))
