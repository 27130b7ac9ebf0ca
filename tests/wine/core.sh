#!/usr/bin/env bash
# The core's test programs, cross-built for Windows, run under Wine by ctest (Wine is the
# build's emulator).
#
#   tests/wine/core.sh WINDOWS_BUILD WORK
set -euo pipefail
source "$(dirname "$0")/wine.sh"
WIN_BUILD="$1"
WORK="$2"
wine_start "$WORK"
# One test program at a time: each starts Wine processes of its own.
ctest --test-dir "$WIN_BUILD" --output-on-failure --timeout 900
