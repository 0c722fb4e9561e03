#!/usr/bin/env bash
# make soak: skjk-soak against a fresh skjk-server on loopback for
# SKJK_SOAK_SECONDS (default 60): good clients writing back invoice numbers,
# hostile clients, kill -9 of clients and of the server during commits.
# Prints what was tried, acknowledged and found; fails when an acknowledged
# commit is missing or a half-applied one is found. Files in build/soak/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SKJK_BUILD:-build/native}
exec "$build/tools/soak/skjk-soak" --seconds "${SKJK_SOAK_SECONDS:-60}" \
  --dir build/soak --server "$build/appserver/skjk-server"
