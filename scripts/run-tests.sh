#!/usr/bin/env bash
# Runs the native tests and the Wine tests through CTest. Whatever the result,
# no Xvfb, wineserver or application server is left running afterwards.
set -uo pipefail
cd "$(dirname "$0")/.."
export SKJK_WINE_DIR=${SKJK_WINE_DIR:-$PWD/build/win32/wine}
trap 'scripts/wine-env stop' EXIT

rc=0
if [ "${1:-all}" != win32 ]; then
  ctest --preset native || rc=1
fi
if [ "${1:-all}" != native ]; then
  scripts/wine-env prefix
  ctest --preset win32 || rc=1
fi
exit $rc
