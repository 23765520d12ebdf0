#!/usr/bin/env bash
# clang-tidy with the project's .clang-tidy over the targets without Qt (platform, i18n, engine
# and its HTTP stack, the configuration and log of shell): any warning fails, with the place.
# Needs the compile commands of a configured build: scripts/check-tidy.sh [build folder].
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}

mapfile -t files < <(git ls-files ':(glob)platform/*.cpp' ':(glob)i18n/*.cpp' \
  ':(glob)engine/*.cpp' ':(glob)engine/http/*.cpp' ':(glob)shell/*.cpp')
printf '%s\0' "${files[@]}" |
  xargs -0 -n 4 -P "$(nproc)" clang-tidy -p "$build" --quiet --warnings-as-errors='*' 2>/dev/null
