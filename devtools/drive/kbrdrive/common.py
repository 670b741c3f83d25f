"""Small helpers that the driver's modules share."""

import subprocess


def end_process(process, grace=10):
    """Asks a child to end, waits up to grace seconds, then kills it; nothing if it has ended."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def read_text(path):
    """The text of a log file, bad bytes replaced; empty when there is no such file yet."""
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""
