#!/usr/bin/env python3
"""A scripted HTTP server on loopback for the network tests.

Usage: http_server.py ROUTES LOG [CERTIFICATE KEY]

With a certificate and its key (PEM files) it speaks https, else plain http.
It listens on 127.0.0.1 at a port the system chooses and prints "PORT <number>" on its standard
output. It ends when its standard input is closed (the test that started it has ended).

ROUTES is re-read for every request, so a test may change the answers while the server runs.
It holds records of the form

    ROUTE <mode> <target length> <data length>\n<target bytes><data bytes>

mode "raw" sends the data bytes exactly as they are (with "{PORT}" replaced by the port, and a
Content-Length grown by what that adds to the body);
"hang" reads the request and never answers; "drop" reads the request and closes the
connection without an answer; "file" serves a file (below). A target ending in "*" matches every request target that begins
with the text before the "*"; an exact target wins over such a prefix, a longer prefix over a
shorter one. Requests without a route get a 404 answer.

Every request, read completely (its head and a body of Content-Length bytes), is appended to LOG
before it is answered (a TLS handshake as the three bytes "TLS"), as

    REQUEST <length>\n<request bytes>\n

A connection stays open for further requests after a raw answer that gives a Content-Length and
does not say "Connection: close".

Mode "file" holds lines "key=value". "path" names the file served (read anew for every request);
the others change how it is served, each in one way a real server may misbehave:

    ranges=0         ignore Range headers and answer 200 with the whole file (default 1: a single
                     range "bytes=a-b" or "bytes=a-" gets 206 with its Content-Range; one beyond
                     the end gets 416)
    status=N         answer with status N and a small HTML error page instead of the file
    length=0         send no Content-Length; the end of the body is the end of the connection
    announce_extra=N announce N bytes more than the body holds
    extra=N          send N bytes more than announced after the body
    cut=N            close the connection once the bytes before file offset N are sent
    stall=N          stop sending at file offset N and keep the connection open
    rate=N           send at most about N bytes per second on each connection
    slack=N          answer a range "bytes=a-b" with N bytes more than asked for

A file answer always closes its connection after the body.
"""

import time

import os
import socket
import ssl
import sys
import threading

ROUTES_PATH = sys.argv[1]
LOG_PATH = sys.argv[2]
LOG_LOCK = threading.Lock()
PORT = 0
TLS = None
if len(sys.argv) > 4:
    TLS = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    TLS.load_cert_chain(sys.argv[3], sys.argv[4])


def load_routes():
    routes = {}
    try:
        with open(ROUTES_PATH, "rb") as f:
            data = f.read()
    except OSError:
        return routes
    pos = 0
    while pos < len(data):
        end = data.index(b"\n", pos)
        fields = data[pos:end].split(b" ")
        mode = fields[1].decode()
        key_len, data_len = int(fields[2]), int(fields[3])
        pos = end + 1
        key = data[pos:pos + key_len]
        pos += key_len
        routes[key] = (mode, data[pos:pos + data_len])
        pos += data_len
    return routes


def find_route(routes, target):
    if target in routes:
        return routes[target]
    best = None
    for key, value in routes.items():
        if key.endswith(b"*") and target.startswith(key[:-1]):
            if best is None or len(key) > len(best[0]):
                best = (key, value)
    if best is not None:
        return best[1]
    return ("raw", b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


def header_value(head, name):
    for line in head.split(b"\r\n")[1:]:
        key, sep, value = line.partition(b":")
        if sep and key.strip().lower() == name:
            return value.strip()
    return None


def read_request(conn, pending):
    """Returns (request bytes, rest) or (None, rest) when the peer went away. A TLS handshake
    (a client that took the server for an https one) is returned as the request b"TLS"."""
    while b"\r\n\r\n" not in pending:
        if TLS is None and pending.startswith(b"\x16\x03"):
            return b"TLS", b""
        chunk = conn.recv(65536)
        if not chunk:
            return None, pending
        pending += chunk
    head_end = pending.index(b"\r\n\r\n") + 4
    head = pending[:head_end]
    length = header_value(head, b"content-length")
    need = head_end + (int(length) if length is not None else 0)
    while len(pending) < need:
        chunk = conn.recv(65536)
        if not chunk:
            return None, pending
        pending += chunk
    return pending[:need], pending[need:]


def log_request(request):
    with LOG_LOCK:
        with open(LOG_PATH, "ab") as f:
            f.write(b"REQUEST %d\n" % len(request))
            f.write(request)
            f.write(b"\n")
            f.flush()


def with_port(data):
    """The answer with "{PORT}" replaced by the port. A Content-Length written for the body as it
    stood (with "{PORT}" in it) grows by what the replacement adds, so the body stays whole."""
    port = str(PORT).encode()
    head, sep, body = data.partition(b"\r\n\r\n")
    if not sep or b"{PORT}" not in body:
        return data.replace(b"{PORT}", port)
    grown = body.count(b"{PORT}") * (len(port) - len(b"{PORT}"))
    lines = head.split(b"\r\n")
    for i, line in enumerate(lines[1:], 1):
        key, colon, value = line.partition(b":")
        if colon and key.strip().lower() == b"content-length" and value.strip().isdigit():
            lines[i] = key + b": " + str(int(value.strip()) + grown).encode()
    return b"\r\n".join(lines).replace(b"{PORT}", port) + sep + body.replace(b"{PORT}", port)


def keeps_alive(response):
    head = response.split(b"\r\n\r\n", 1)[0]
    connection = header_value(head, b"connection")
    if connection is not None and connection.lower() == b"close":
        return False
    return header_value(head, b"content-length") is not None


def wait_for_peer_to_leave(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


def file_options(data):
    options = {}
    for line in data.split(b"\n"):
        key, sep, value = line.partition(b"=")
        if sep:
            options[key.decode()] = value.decode()
    return options


def asked_range(request, size):
    """(first, last) of a single range "bytes=a-b" or "bytes=a-", None without a Range header,
    "bad" for a range the file cannot satisfy."""
    value = header_value(request.split(b"\r\n\r\n", 1)[0], b"range")
    if value is None:
        return None
    unit, sep, asked = value.partition(b"=")
    first, dash, last = asked.partition(b"-")
    try:
        if unit.strip().lower() != b"bytes" or not dash or b"," in asked:
            return "bad"
        first = int(first)
        last = int(last) if last.strip() else size - 1
    except ValueError:
        return "bad"
    if first >= size or last < first:
        return "bad"
    return first, min(last, size - 1)


def serve_file(conn, request, data):
    options = file_options(data)
    number = lambda key, default: int(options.get(key, default))
    status = number("status", 200)
    if status != 200:
        page = (b"<html><head><title>%d</title></head><body><h1>Error %d</h1>"
                b"<p>The file could not be served.</p></body></html>" % (status, status))
        conn.sendall(b"HTTP/1.1 %d Error\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                     b"Connection: close\r\n\r\n" % (status, len(page)) + page)
        return
    size = os.path.getsize(options["path"])
    first, last = 0, size - 1
    head = b"HTTP/1.1 200 OK\r\n"
    extra_headers = b""
    wanted = asked_range(request, size) if number("ranges", 1) else None
    if wanted == "bad":
        conn.sendall(b"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%d\r\n"
                     b"Content-Length: 0\r\nConnection: close\r\n\r\n" % size)
        return
    if wanted is not None:
        first, last = wanted
        if not header_value(request.split(b"\r\n\r\n", 1)[0], b"range").endswith(b"-"):
            last = min(last + number("slack", 0), size - 1)
        head = b"HTTP/1.1 206 Partial Content\r\n"
        extra_headers = b"Content-Range: bytes %d-%d/%d\r\n" % (first, last, size)
    if number("ranges", 1):
        extra_headers += b"Accept-Ranges: bytes\r\n"
    body_length = last - first + 1
    if number("length", 1):
        extra_headers += b"Content-Length: %d\r\n" % (body_length + number("announce_extra", 0))
    conn.sendall(head + b"Content-Type: application/zip\r\n" + extra_headers +
                 b"Connection: close\r\n\r\n")
    cut, stall, rate = number("cut", -1), number("stall", -1), number("rate", 0)
    position, end = first, last + 1
    with open(options["path"], "rb") as f:
        f.seek(first)
        started = time.monotonic()
        while position < end:
            stop = end
            if first <= cut < stop:
                stop = cut
            if first <= stall < stop:
                stop = stall
            step = min(65536, stop - position)
            if rate > 0:
                step = min(step, max(1, rate // 20))
                ahead = (position - first) / rate - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)
            if step > 0:
                conn.sendall(f.read(step))
                position += step
            if position == stop and stop != end:
                if stop == stall:
                    wait_for_peer_to_leave(conn)
                return
    if number("extra", 0) > 0:
        conn.sendall(b"X" * number("extra", 0))


def serve_connection(conn):
    pending = b""
    try:
        if TLS is not None:
            conn = TLS.wrap_socket(conn, server_side=True)
        while True:
            request, pending = read_request(conn, pending)
            if request is None:
                return
            log_request(request)
            if request == b"TLS":
                return
            target = request.split(b"\r\n", 1)[0].split(b" ")
            target = target[1] if len(target) > 1 else b""
            mode, data = find_route(load_routes(), target)
            if mode == "hang":
                wait_for_peer_to_leave(conn)
                return
            if mode == "drop":
                return
            if mode == "file":
                serve_file(conn, request, data)
                return
            response = with_port(data)
            conn.sendall(response)
            if not keeps_alive(response):
                return
    except (OSError, ssl.SSLError):
        pass
    finally:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def accept_loop(listener):
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve_connection, args=(conn,), daemon=True).start()


def main():
    global PORT
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    PORT = listener.getsockname()[1]
    threading.Thread(target=accept_loop, args=(listener,), daemon=True).start()
    sys.stdout.write("PORT %d\n" % PORT)
    sys.stdout.flush()
    # The test that started the server holds the other end of standard input.
    while sys.stdin.buffer.read(1):
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
