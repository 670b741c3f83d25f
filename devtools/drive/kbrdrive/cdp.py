"""A small Chrome DevTools Protocol client: target list over HTTP, one WebSocket (RFC 6455) per
page target, commands with bounded waits.

The configuration program's pages call the program synchronously (a blocking request from the
page), and its message boxes open inside the engine's own callbacks, where the engine runs none
of its tasks. A command sent then is answered only after the box or the child window is gone, so
every wait here has a limit, and actions that may open such windows are started with
`Page.run_later` (a zero-delay timer in the page) so that the command itself returns at once.
"""

import base64
import http.client
import json
import os
import socket
import struct
import time
import urllib.parse


class CdpError(Exception):
    pass


def list_targets(port, timeout=5.0):
    """The engine's debugging targets (dicts with id, type, title, url, webSocketDebuggerUrl)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request("GET", "/json/list")
        response = connection.getresponse()
        if response.status != 200:
            raise CdpError("GET /json/list: HTTP %d" % response.status)
        return json.loads(response.read().decode("utf-8"))
    finally:
        connection.close()


class WebSocket:
    """Client side of RFC 6455, text frames only, enough for the DevTools protocol."""

    def __init__(self, url, timeout=10.0):
        parts = urllib.parse.urlparse(url)
        if parts.scheme != "ws":
            raise CdpError("not a ws: URL: " + url)
        self.sock = socket.create_connection((parts.hostname, parts.port or 80), timeout=timeout)
        self.buffer = b""
        key = base64.b64encode(os.urandom(16)).decode("ascii")
        path = parts.path + ("?" + parts.query if parts.query else "")
        request = ("GET %s HTTP/1.1\r\nHost: %s:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n\r\n"
                   % (path, parts.hostname, parts.port or 80, key))
        self.sock.sendall(request.encode("ascii"))
        head = self._read_until(b"\r\n\r\n", time.monotonic() + timeout)
        status = head.split(b"\r\n", 1)[0]
        if b" 101 " not in status + b" ":
            raise CdpError("WebSocket handshake refused: %r" % status)

    def close(self):
        try:
            self._send_frame(0x8, b"")
        except OSError:
            pass
        self.sock.close()

    def send_text(self, text):
        self._send_frame(0x1, text.encode("utf-8"))

    def receive_text(self, deadline):
        """The next whole text message, or None when the deadline passes first."""
        message = b""
        while True:
            frame = self._read_frame(deadline)
            if frame is None:
                return None
            fin, opcode, payload = frame
            if opcode == 0x9:  # ping
                self._send_frame(0xA, payload)
                continue
            if opcode == 0x8:
                raise CdpError("the engine closed the debugging connection")
            if opcode in (0x1, 0x0):
                message += payload
                if fin:
                    return message.decode("utf-8")

    def _send_frame(self, opcode, payload):
        header = bytes([0x80 | opcode])
        n = len(payload)
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack("!H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack("!Q", n)
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(header + mask + masked)

    def _fill(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return False
        self.sock.settimeout(remaining)
        try:
            chunk = self.sock.recv(65536)
        except socket.timeout:
            return False
        if not chunk:
            raise CdpError("the debugging connection was closed")
        self.buffer += chunk
        return True

    def _read_until(self, marker, deadline):
        while marker not in self.buffer:
            if not self._fill(deadline):
                raise CdpError("timed out in the WebSocket handshake")
        head, self.buffer = self.buffer.split(marker, 1)
        return head

    def _parse_frame(self):
        # A frame is taken from the buffer only once it is there whole.
        b = self.buffer
        if len(b) < 2:
            return None
        fin, opcode = bool(b[0] & 0x80), b[0] & 0x0F
        n, at = b[1] & 0x7F, 2
        if n == 126:
            if len(b) < 4:
                return None
            n, at = struct.unpack("!H", b[2:4])[0], 4
        elif n == 127:
            if len(b) < 10:
                return None
            n, at = struct.unpack("!Q", b[2:10])[0], 10
        if b[1] & 0x80:  # a masked frame from the server (not expected): skip the key
            at += 4
        if len(b) < at + n:
            return None
        payload = b[at:at + n]
        if b[1] & 0x80:
            key = b[at - 4:at]
            payload = bytes(x ^ key[i % 4] for i, x in enumerate(payload))
        self.buffer = b[at + n:]
        return fin, opcode, payload

    def _read_frame(self, deadline):
        while True:
            frame = self._parse_frame()
            if frame is not None:
                return frame
            if not self._fill(deadline):
                return None


class Page:
    """One page target of the engine."""

    def __init__(self, target, timeout=10.0):
        self.target = target
        self.ws = WebSocket(target["webSocketDebuggerUrl"], timeout=timeout)
        self.next_id = 0
        self.events = []

    @property
    def url(self):
        return self.target.get("url", "")

    def close(self):
        self.ws.close()

    def call(self, method, params=None, timeout=10.0):
        """Sends a command and waits for its answer; None when none came within the timeout."""
        self.next_id += 1
        my_id = self.next_id
        self.ws.send_text(json.dumps({"id": my_id, "method": method, "params": params or {}}))
        deadline = time.monotonic() + timeout
        while True:
            text = self.ws.receive_text(deadline)
            if text is None:
                return None
            message = json.loads(text)
            if message.get("id") == my_id:
                if "error" in message:
                    raise CdpError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def evaluate(self, expression, timeout=10.0, user_gesture=False):
        """The value of a script expression in the page (JSON-like values), or raises CdpError
        when the page did not answer within the timeout or the script threw."""
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "userGesture": user_gesture}, timeout=timeout)
        if result is None:
            raise CdpError("the page did not answer within %.0f s: %s" % (timeout, expression[:80]))
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            text = details.get("exception", {}).get("description") or details.get("text")
            raise CdpError("script error: %s (in %s)" % (text, expression[:80]))
        return result.get("result", {}).get("value")

    def run_later(self, statements):
        """Runs statements from a zero-delay timer in the page, so that a command that opens a box
        or a child window does not hold up the debugging connection."""
        self.evaluate("setTimeout(function () { %s }, 0); true" % statements)

    def insert_text(self, text, timeout=10.0):
        """Types text into the focused element, as a keyboard would."""
        if self.call("Input.insertText", {"text": text}, timeout=timeout) is None:
            raise CdpError("the page did not take the typed text")
