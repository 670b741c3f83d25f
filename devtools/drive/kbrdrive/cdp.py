"""A small Chrome DevTools Protocol client: target list over HTTP, one WebSocket per page target
(python3-websocket), commands with bounded waits.

The configuration program's pages call the program synchronously (a blocking request from the
page), and its message boxes open inside the engine's own callbacks, where the engine runs none
of its tasks. A command sent then is answered only after the box or the child window is gone, so
every wait here has a limit, and actions that may open such windows are started with
`Page.run_later` (a zero-delay timer in the page) so that the command itself returns at once.
"""

import http.client
import json
import time

import websocket  # python3-websocket


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
    """One debugging connection (the websocket-client library), text messages with deadlines."""

    def __init__(self, url, timeout=10.0):
        try:
            # No Origin header: the engine refuses debugging connections from web origins.
            self.ws = websocket.create_connection(url, timeout=timeout, suppress_origin=True)
        except (websocket.WebSocketException, OSError) as error:
            raise CdpError("cannot open the debugging connection %s: %s" % (url, error))

    def close(self):
        try:
            self.ws.close()
        except (websocket.WebSocketException, OSError):
            pass

    def send_text(self, text):
        try:
            self.ws.send(text)
        except (websocket.WebSocketException, OSError) as error:
            raise CdpError("the debugging connection failed: %s" % error)

    def receive_text(self, deadline):
        """The next whole text message, or None when the deadline passes first."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return None
        self.ws.settimeout(remaining)
        try:
            message = self.ws.recv()
        except websocket.WebSocketTimeoutException:
            return None
        except websocket.WebSocketConnectionClosedException:
            raise CdpError("the engine closed the debugging connection")
        except (websocket.WebSocketException, OSError) as error:
            raise CdpError("the debugging connection failed: %s" % error)
        return message.decode("utf-8") if isinstance(message, bytes) else message


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
