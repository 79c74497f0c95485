#!/bin/sh
# `make`, on a machine that may not have it yet (a fresh Debian): installs
# make with the build tools (scripts/install-deps run), then runs make.
#   ./make.sh run     ./make.sh test     (any make target)
set -e
cd "$(dirname "$0")"
if ! command -v make >/dev/null 2>&1; then
  bash scripts/install-deps run
fi
exec make "$@"
