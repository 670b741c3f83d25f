"""Drives the KBR3300 programs as a user would: windows under an X server, pages through the
browser engine's remote debugging port. Python 3 standard library only."""
