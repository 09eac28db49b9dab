#!/bin/sh
# The two Debian packages built from a build tree hold what an installed copy needs, the tool's
# without the simulator; lintian finds nothing in them; the udev rule is one udev accepts.
#   package-test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
src=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; fail "cpack"; }
deb=$(ls "$out"/beamdock_*.deb) || fail "no beamdock_*.deb"
sim=$(ls "$out"/beamdock-sim_*.deb) || fail "no beamdock-sim_*.deb"
has() {  # has PACKAGE FILE...
  p=$1; shift
  dpkg-deb -c "$p" | awk '{print $6}' >"$out/files"
  for f in "$@"; do grep -qx "\./$f" "$out/files" || fail "$f is not in $(basename "$p")"; done
}
has "$deb" usr/bin/beamdock usr/bin/beamdock-cli usr/libexec/beamdock/beamdock-cli-full \
    usr/lib/udev/rules.d/70-beamdock.rules usr/share/applications/beamdock.desktop \
    usr/share/icons/hicolor/scalable/apps/beamdock.svg usr/share/icons/hicolor/256x256/apps/beamdock.png \
    usr/share/man/man1/beamdock.1.gz usr/share/man/man1/beamdock-cli.1.gz \
    usr/share/bash-completion/completions/beamdock-cli \
    usr/share/doc/beamdock/copyright usr/share/doc/beamdock/changelog.gz \
    usr/lib/postgresql/15/lib/beamdock_seal.so \
    usr/lib/systemd/system/beamdock-notify.service usr/lib/systemd/system/beamdock-notify.timer
! grep -q kvt-sim "$out/files" || fail "the tool's package holds the simulator: $(grep kvt-sim "$out/files")"
has "$sim" usr/bin/kvt-sim usr/share/man/man1/kvt-sim.1.gz usr/share/doc/beamdock-sim/copyright
dpkg-deb -x "$deb" "$out/root"
! grep -q "Usage: kvt-sim" "$out/root/usr/bin/beamdock" || fail "the window has the simulator built in"
# The installed terminal tool runs its full program for documents and the site server.
status=0
"$out/root/usr/bin/beamdock-cli" --dir "$out" history 2>"$out/history.err" >/dev/null || status=$?
[ "$status" -ne 70 ] || fail "the installed beamdock-cli cannot run its full program: $(cat "$out/history.err")"
# Installed without beamdock-sim, --simulate says what to install (then waits in its message box).
mkdir "$out/work"
(cd "$out/work" && QT_QPA_PLATFORM=offscreen HOME="$out/work" XDG_RUNTIME_DIR="$out/work" PATH=/usr/bin:/bin \
  exec "$out/root/usr/bin/beamdock" --simulate >/dev/null 2>"$out/simulate.err") &
window=$!
for _ in $(seq 100); do grep -q "sudo apt install beamdock-sim" "$out/simulate.err" && break; sleep 0.1; done
kill "$window" 2>/dev/null || true
wait "$window" 2>/dev/null || true
grep -q "sudo apt install beamdock-sim" "$out/simulate.err" || fail "beamdock --simulate without kvt-sim: $(cat "$out/simulate.err")"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "Depends lacks the Qt libraries: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -e "$deb" "$out/control"
[ -x "$out/control/postinst" ] && grep -q 'udevadm trigger' "$out/control/postinst" || fail "postinst does not trigger udev"
# The notices stay off until an administrator has configured them and enables the timer.
! grep -q 'systemctl\|deb-systemd' "$out/control/postinst" || fail "postinst starts the notices"
grep -qx 'ExecStart=/usr/bin/beamdock-cli --dir /var/lib/beamdock fleet --notify' \
  "$out/root/usr/lib/systemd/system/beamdock-notify.service" || fail "the notices' service runs something else"
if command -v systemd-analyze >/dev/null 2>&1; then
  systemd-analyze verify --man=no "$out/root/usr/lib/systemd/system/beamdock-notify.timer" 2>&1 |
    grep -v 'is not executable' | grep . && fail "systemd-analyze verify"
fi

# lintian refuses nothing, warnings included. It says it would rather not run as root.
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb" "$sim" >"$out/lintian.log" 2>&1; then
  cat "$out/lintian.log"
  fail "lintian"
fi
grep -v 'running with root privileges' "$out/lintian.log" | grep -q . && { cat "$out/lintian.log"; fail "lintian says something"; }

# The rule: udev's own check where this udev has it, else its text.
rule=$src/dist/70-beamdock.rules
if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$rule" || fail "udevadm verify"
else
  # Runs before the seat rules (73-seat-late) that turn uaccess into an access list.
  [ "$(printf '%s\n' 70-beamdock.rules 73-seat-late.rules | sort | head -1)" = 70-beamdock.rules ] || fail "rule order"
  grep -q '^SUBSYSTEM=="tty", DRIVERS=="cp210x", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1"$' "$rule" ||
    fail "the tty line of the rule"
  if grep -v '^#' "$rule" | grep -v '^$' | grep -Evq '^(ACTION|SUBSYSTEM|LABEL)'; then fail "a rule line of an unknown form"; fi
fi
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$src/dist/beamdock.desktop" || fail "desktop entry"
fi
echo "packages ok: $(basename "$deb"), $(basename "$sim"), lintian clean"
