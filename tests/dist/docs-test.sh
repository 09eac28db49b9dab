#!/usr/bin/env bash
# The manual page and the bash completion of beamdock-cli, written from its command table at
# build time, name every command and exit status, and the completion completes as a user types.
#   docs-test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
fail() { echo "FAIL: $*"; exit 1; }
page=$build/dist/beamdock-cli.1
completion=$build/dist/beamdock-cli.bash

# Every command the help lists (its command lines start in the third column).
mapfile -t commands < <("$build/beamdock-cli" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | sort -u)
[ ${#commands[@]} -ge 19 ] || fail "only ${#commands[@]} commands in the help"
for c in "${commands[@]}"; do
  grep -q "^\\\\fB${c//-/\\\\-}\\\\fR" "$page" || fail "the manual page lacks $c"
  grep -q "^    $c)$" "$completion" || fail "the completion lacks $c"
done
# Every exit status the terminal tool's sources define.
for code in $(grep -rhoE 'kExit[A-Za-z]+ = [0-9]+' "$src/cli" | awk '{print $3}' | sort -u); do
  sed -n '/^\.SH EXIT STATUS/,/^\.SH /p' "$page" | grep -qx "\.B $code" || fail "the manual page lacks exit status $code"
done
for p in "$page" "$build/dist/kvt-sim.1" "$src/dist/beamdock.1"; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$p" 2>&1 >/dev/null) ||
    fail "man cannot show $p"
  [ -z "$warnings" ] || fail "$p: $warnings"
done

# What a user gets for a line typed up to its end.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/a.cfg" "$work/b.csv" "$work/c.pdf" "$work/d.img"
mkdir "$work/sub"
complete_line() {
  (cd "$work" && bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"; shift
    COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _beamdock_cli
    printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$completion" "$@")
}
check() {  # check LINE EXPECTED: all it offers, or a part of it when EXPECTED ends in " ..."
  local got
  got=$(complete_line "$1")
  if [[ $2 == *" ..." ]]; then
    [[ " $got" == *" ${2% ...} "* ]] || fail "'$1' completes to '$got', without '${2% ...}'"
  else
    [[ $got == "$2 " ]] || fail "'$1' completes to '$got', not to '$2'"
  fi
}
check "beamdock-cli " "history ..."
check "beamdock-cli --dir sub " "certificate ..."
check "beamdock-cli --dir " "sub"
check "beamdock-cli read -o " "a.cfg sub"
check "beamdock-cli log export -o " "b.csv sub"
check "beamdock-cli certificate 0001 -o " "c.pdf sub"
check "beamdock-cli firmware " "d.img sub"
check "beamdock-cli history --" "--csv --export --file --key --server --station-key --verify"
check "beamdock-cli records " "import init-server push register-station status"
check "beamdock-cli test " "beep lled rled vibrator"
check "beamdock-cli log " "-o export reset"
echo "docs ok: ${#commands[@]} commands"
