#!/usr/bin/env bash
# check-packages.sh against this build tree: the install list passes; the list without the
# package that only the OpenGL CMake files come from fails and names it; the list without a
# package that another on it pulls in passes.
set -u
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${1:?usage: check-packages-test.sh BUILD_DIR}"
command -v dpkg-query >/dev/null || { echo "no dpkg: skipped"; exit 0; }
source "$ROOT/tools/setup.sh"
check="$ROOT/tools/check-packages.sh"

without() {
  local p
  for p in "${BEAMDOCK_PACKAGES[@]}"; do [ "$p" = "$1" ] || echo "$p"; done
}
fail() { echo "FAIL: $*"; exit 1; }

out="$("$check" "$BUILD" 2>&1)" || fail "the install list itself was refused: $out"
# shellcheck disable=SC2046
out="$("$check" "$BUILD" $(without libqt6opengl6-dev) 2>&1)" && fail "a list without libqt6opengl6-dev passed"
grep -q '^check-packages: package libqt6opengl6-dev is used by the build' <<<"$out" ||
  fail "the missing package is not named: $out"
# shellcheck disable=SC2046
out="$("$check" "$BUILD" $(without qt6-base-dev) 2>&1)" || fail "qt6-base-dev comes with qt6-charts-dev: $out"
echo "ok"
