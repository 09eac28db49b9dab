#!/usr/bin/env bash
# check-packages.sh on this build tree: the install list passes; without the package that alone
# brings the OpenGL CMake files it fails naming it; without one another pulls in it passes.
set -u
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
command -v dpkg-query >/dev/null || { echo "no dpkg: skipped"; exit 0; }
source "$ROOT/tools/setup.sh"
check() { "$ROOT/tools/check-packages.sh" "$1" $(printf '%s\n' "${BEAMDOCK_PACKAGES[@]}" | grep -vx "$2") 2>&1; }
fail() { echo "FAIL: $*"; exit 1; }

out="$(check "$1" none)" || fail "the install list itself was refused: $out"
out="$(check "$1" libqt6opengl6-dev)" && fail "a list without libqt6opengl6-dev passed"
grep -q '^check-packages: package libqt6opengl6-dev is used by the build' <<<"$out" || fail "not named: $out"
out="$(check "$1" qt6-base-dev)" || fail "qt6-base-dev comes with qt6-charts-dev: $out"
echo "ok"
