"""Webhooks and lobbies on loopback for the notification test and benchmark: receivers that
record posts (or never answer) and a kestrun-lobby started with --listen 127.0.0.1:0."""
import http.client
import http.server
import json
import signal
import socket
import subprocess
import sys
import threading
import time

RETRY_AFTER = 5  # a receiver's 429 asks for longer than the lobby's own pause between posts


def wait_until(condition, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


class Receiver:
    """A webhook that records each post's arrival time, headers and JSON body."""

    def __init__(self, context=None, first_status=None):
        self.posts = []
        receiver = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"]))
                receiver.posts.append((time.monotonic(), self.headers, json.loads(body)))
                if first_status and len(receiver.posts) == 1:
                    self.send_response(first_status)
                    self.send_header("Retry-After", str(RETRY_AFTER))
                else:
                    self.send_response(204)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        if context:
            self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.port = self.server.server_address[1]


class Silent:
    """A webhook that takes each connection and the request on it, and never answers."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen()
        self.port = self.sock.getsockname()[1]
        self.open = 0
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            conn, _ = self.sock.accept()
            self.open += 1
            threading.Thread(target=self.hold, args=(conn,), daemon=True).start()

    def hold(self, conn):
        while conn.recv(4096):
            pass
        self.open -= 1


class Lobby:
    def __init__(self, binary, *options):
        self.proc = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--db", ":memory:",
                                      "--rate-limit", "0", *options],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        line = self.proc.stderr.readline()
        if "listening on" not in line:
            self.proc.kill()
            sys.exit("lobby did not start: " + line + self.proc.stderr.read())
        self.port = int(line.rsplit(":", 1)[1])
        threading.Thread(target=self.proc.stderr.read, daemon=True).start()

    def get(self, path, source="127.0.0.1"):
        """The body and the seconds the answer took."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30,
                                          source_address=(source, 0))
        start = time.monotonic()
        conn.request("GET", path)
        body = conn.getresponse().read().decode()
        took = time.monotonic() - start
        conn.close()
        return body, took

    def script(self, query, source="127.0.0.1"):
        return self.get("/server/server.php?" + query, source)

    def announce(self, source, name, game="NFS4"):
        a, b, c, d = (int(x) for x in source.split("."))
        ip = (a << 24) | (b << 16) | (c << 8) | d
        return self.script(f"action=raceadd&game={game}&data=name:{name.replace(' ', '%20')};ip:{ip}", source)

    def stop(self):
        """Seconds from SIGTERM to the process's end, and its exit code."""
        start = time.monotonic()
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        return time.monotonic() - start, self.proc.returncode
