#!/bin/sh
# Renders every page of the set to PNG for review: pages/tools/render-pages.sh [output folder]
# Needs node and chromium (apt-get install -y nodejs chromium).
set -eu
exec node "$(dirname "$0")/render-pages.js" "${1:-page-renders}"
