#!/usr/bin/env bash
# Renders the README's pictures into docs/ from the program's own windows against the
# simulated detector, on the offscreen platform (no display needed).
#   tools/screenshots.sh [FOLDER]   (default: docs/)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
source "$ROOT/tools/setup.sh"
install_missing_packages
configure_tree "$ROOT/build"
cmake --build "$ROOT/build" --target beamdock-shots
# Each window starts in a temporary folder of its own, so no settings file is touched.
QT_QPA_PLATFORM=offscreen "$ROOT/build/beamdock-shots" "${1:-$ROOT/docs}"
