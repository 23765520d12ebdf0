#!/usr/bin/env bash
# Installs what is missing, builds the debug configuration and runs every test,
# the end-to-end suite (label e2e) included.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/check-style.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
./scripts/check-tidy.sh build/dev
# No reruns: a failing test is a finding, and a rerun would only hide a race.
ctest --preset dev -j2 "$@"
