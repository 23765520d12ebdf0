#!/usr/bin/env bash
# Installs what is missing, builds the debug configuration and runs every test,
# the end-to-end suite (label e2e) included.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
# The window and end-to-end tests drive a real X server and real processes; a test that
# fails is run again up to twice, so that only a failure that repeats fails the suite.
ctest --preset dev -j2 --repeat until-pass:3 "$@"
