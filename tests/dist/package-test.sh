#!/bin/sh
# The Debian package built from a build tree holds what an installed copy needs, and its udev
# rule is one udev accepts.   package-test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
src=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; fail "cpack"; }
deb=$(ls "$out"/beamdock_*.deb) || fail "no beamdock_*.deb"
dpkg-deb -c "$deb" | awk '{print $6}' >"$out/files"
for f in usr/bin/beamdock usr/bin/beamdock-cli usr/bin/kvt-sim \
    usr/lib/udev/rules.d/70-beamdock.rules usr/share/applications/beamdock.desktop \
    usr/share/icons/hicolor/scalable/apps/beamdock.svg usr/share/icons/hicolor/256x256/apps/beamdock.png \
    usr/share/man/man1/beamdock-cli.1.gz usr/share/bash-completion/completions/beamdock-cli; do
  grep -qx "\./$f" "$out/files" || fail "$f is not in the package"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "Depends lacks the Qt libraries: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -e "$deb" "$out/control"
[ -x "$out/control/postinst" ] && grep -q 'udevadm trigger' "$out/control/postinst" || fail "postinst does not trigger udev"

# The rule: udev's own check where this udev has it, else its text.
rule=$src/dist/70-beamdock.rules
if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rule" || fail "udevadm verify"
else
  # Runs before the seat rules (73-seat-late) that turn uaccess into an access list.
  [ "$(printf '%s\n' 70-beamdock.rules 73-seat-late.rules | sort | head -1)" = 70-beamdock.rules ] || fail "rule order"
  grep -q '^SUBSYSTEM=="tty", ATTRS{idVendor}=="10c4", ATTRS{idProduct}=="ea60", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1"$' "$rule" ||
    fail "the tty line of the rule"
  if grep -v '^#' "$rule" | grep -v '^$' | grep -Evq '^(ACTION|SUBSYSTEM|LABEL)'; then fail "a rule line of an unknown form"; fi
fi
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$src/dist/beamdock.desktop" || fail "desktop entry"
fi
echo "package ok: $(basename "$deb"), $(wc -l <"$out/files") entries"
