#!/usr/bin/env python3
"""A stand-in for the hosting service on 127.0.0.1, for the program checks.

    release_proxy.py DIR TAG ASSET [proxy|direct]

DIR holds ca.pem and ca.key, a certificate authority that the launcher is made to trust. As a
proxy (on a free port) it takes CONNECT requests only; direct (on port 443, for a client that a
hosts file leads there) it answers TLS at once and takes the host from the name the client asks
for. Either way it answers TLS itself with a certificate for the host signed by the authority
(made with openssl at first use, kept in DIR), and serves

  .../releases/latest on api.github.com   a release TAG whose launcher asset is the file ASSET
                                          (its size, and its SHA-256 as the digest)
  the asset's address on github.com       a redirect to objects.githubusercontent.com
  the redirect's target                   ASSET's bytes (a range when asked for)

and 404 for anything else. Nothing leaves the machine: no request is passed on. It writes its
port to DIR/port once it listens, appends "HOST PATH" to DIR/requests for every request, and ends
by itself after ten minutes.
"""
import hashlib
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time

ASSET_NAME = "HalvornLauncher.exe"
REPO_PATH = "/kelvane/halvorn-native"
DOWNLOAD_PATH = REPO_PATH + "/releases/download/{tag}/" + ASSET_NAME
STORAGE_HOST = "objects.githubusercontent.com"
STORAGE_PATH = "/release-assets/" + ASSET_NAME
LIFETIME_S = 600

work, tag, asset_file = sys.argv[1], sys.argv[2], sys.argv[3]
mode = sys.argv[4] if len(sys.argv) > 4 else "proxy"
with open(asset_file, "rb") as f:
    asset = f.read()
contexts = {}
contexts_lock = threading.Lock()
log_lock = threading.Lock()


def context_for(host):
    """A server context with a certificate for `host` signed by the check's authority."""
    with contexts_lock:
        if host in contexts:
            return contexts[host]
        base = os.path.join(work, "host-" + re.sub(r"[^A-Za-z0-9.-]", "_", host))
        with open(base + ".ext", "w") as ext:
            ext.write("subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\n"
                      "extendedKeyUsage=serverAuth\n" % host)
        subprocess.run(["openssl", "req", "-new", "-nodes", "-newkey", "ec",
                        "-pkeyopt", "ec_paramgen_curve:prime256v1", "-keyout", base + ".key",
                        "-subj", "/CN=" + host, "-out", base + ".csr"],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "x509", "-req", "-in", base + ".csr",
                        "-CA", os.path.join(work, "ca.pem"), "-CAkey", os.path.join(work, "ca.key"),
                        "-CAcreateserial", "-days", "2", "-extfile", base + ".ext",
                        "-out", base + ".pem"],
                       check=True, capture_output=True)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(base + ".pem", base + ".key")
        contexts[host] = context
        return context


def read_head(sock):
    """The request's head, up to its blank line, read byte by byte so that nothing after it is
    taken from the socket; None when the peer closes first."""
    head = b""
    while not head.endswith(b"\r\n\r\n"):
        byte = sock.recv(1)
        if not byte or len(head) > 65536:
            return None
        head += byte
    lines = head.decode("latin-1").split("\r\n")
    method, target, _ = (lines[0].split(" ") + ["", "", ""])[:3]
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers[name.strip().lower()] = value.strip()
    return method, target, headers


def answer(sock, status, headers, body=b""):
    head = "HTTP/1.1 %s\r\n" % status
    for name, value in list(headers.items()) + [("Content-Length", str(len(body))),
                                                 ("Connection", "close")]:
        head += "%s: %s\r\n" % (name, value)
    sock.sendall(head.encode("latin-1") + b"\r\n" + body)


def release_json():
    return json.dumps({
        "tag_name": tag,
        "name": "Launcher " + tag,
        "body": "A newer launcher, for the program check.",
        "html_url": "https://github.com" + REPO_PATH + "/releases/tag/" + tag,
        "assets": [{
            "name": ASSET_NAME,
            "size": len(asset),
            "digest": "sha256:" + hashlib.sha256(asset).hexdigest(),
            "browser_download_url": "https://github.com" + DOWNLOAD_PATH.format(tag=tag),
        }],
    }).encode()


def serve(sock, host, path, headers):
    with log_lock, open(os.path.join(work, "requests"), "a") as log:
        log.write("%s %s\n" % (host, path))
    if host == "api.github.com" and path.endswith("/releases/latest"):
        answer(sock, "200 OK", {"Content-Type": "application/json"}, release_json())
    elif host == "github.com" and path == DOWNLOAD_PATH.format(tag=tag):
        answer(sock, "302 Found", {"Location": "https://" + STORAGE_HOST + STORAGE_PATH})
    elif host == STORAGE_HOST and path == STORAGE_PATH:
        match = re.fullmatch(r"bytes=(\d+)-", headers.get("range", ""))
        start = int(match.group(1)) if match else 0
        if match and start < len(asset):
            answer(sock, "206 Partial Content",
                   {"Content-Range": "bytes %d-%d/%d" % (start, len(asset) - 1, len(asset)),
                    "Content-Type": "application/octet-stream"}, asset[start:])
        else:
            answer(sock, "200 OK", {"Content-Type": "application/octet-stream"}, asset)
    else:
        answer(sock, "404 Not Found", {"Content-Type": "text/plain"}, b"not here\n")


def tunnel(conn):
    try:
        conn.settimeout(60)
        request = read_head(conn)
        if request is None:
            return
        method, target, _ = request
        if method != "CONNECT":
            answer(conn, "405 Method Not Allowed", {"Allow": "CONNECT"})
            return
        host = target.rsplit(":", 1)[0]
        conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        with context_for(host).wrap_socket(conn, server_side=True) as tls:
            inner = read_head(tls)
            if inner is None:
                return
            _, path, headers = inner
            serve(tls, host, path, headers)
    except (OSError, ssl.SSLError, subprocess.CalledProcessError) as error:
        print("release_proxy: %s" % error, file=sys.stderr)
    finally:
        conn.close()


def direct(conn):
    """TLS at once, for a client that connects to the host's own address (led to 127.0.0.1 by
    the hosts file): the certificate follows the name the client asks for."""
    names = {}

    def choose(tls, name, _):
        names["host"] = name or ""
        if name:
            tls.context = context_for(name)

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.sni_callback = choose
    try:
        conn.settimeout(60)
        with context.wrap_socket(conn, server_side=True) as tls:
            request = read_head(tls)
            if request is None:
                return
            _, path, headers = request
            serve(tls, names.get("host") or headers.get("host", "").split(":")[0], path, headers)
    except (OSError, ssl.SSLError, subprocess.CalledProcessError) as error:
        print("release_proxy: %s" % error, file=sys.stderr)
    finally:
        conn.close()


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 443 if mode == "direct" else 0))
    listener.listen(16)
    listener.settimeout(1)
    port_file = os.path.join(work, "port")
    with open(port_file + ".part", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.rename(port_file + ".part", port_file)
    end = time.monotonic() + LIFETIME_S
    while time.monotonic() < end:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=direct if mode == "direct" else tunnel, args=(conn,),
                         daemon=True).start()


main()
