#!/bin/bash
# Runs the end-to-end driver inside a private network namespace (see scripts/netns-run).
#   run_e2e.sh PYTHON e2e.py ARGS...
# Exit 0 passed, 1 failed, 77 skipped (with the reason on the first line).
set -u
python=$1
command -v "$python" >/dev/null || { echo "SKIP: python3 is missing"; exit 77; }
for tool in Xvfb xdotool; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is missing (scripts/install-deps installs it)"; exit 77; }
done
exec "$(dirname "$0")/../../scripts/netns-run" "$@"
