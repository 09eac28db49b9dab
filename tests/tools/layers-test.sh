#!/usr/bin/env bash
# Every project include must point down or sideways: model <- link <- app <- ui/cli, kvt-sim
# beside link, the documents beside app. Qt headers only in ui/ and report/. A wrong include is
# reported with its file and line. `layers-test.sh DIR` checks DIR instead of the source tree
# (the test below feeds it a tree with planted faults so the check itself is checked).
set -u
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"

# layer: the folders its files may include from
declare -A ALLOWED=(
  [model]="model"
  [link]="link model"
  [sim]="sim link model"
  [app]="app link model"
  [report]="report app link model"
  [ui]="ui report app link model"
  [cli]="cli report app link model"
)
QT_ALLOWED=" ui report "

check() {
  local tree="$1" bad=0 layer file line text target
  for layer in "${!ALLOWED[@]}"; do
    [[ -d "$tree/$layer" ]] || continue
    while IFS= read -r hit; do
      file="${hit%%:*}"; hit="${hit#*:}"; line="${hit%%:*}"; text="${hit#*:}"
      if [[ "$text" =~ \#[[:space:]]*include[[:space:]]*\"([a-z]+)/ ]]; then
        target="${BASH_REMATCH[1]}"
        if [[ -n "${ALLOWED[$target]+x}" && " ${ALLOWED[$layer]} " != *" $target "* ]]; then
          echo "${file#"$tree"/}:$line: $layer includes $target: $text"
          bad=1
        fi
      elif [[ "$text" =~ \#[[:space:]]*include[[:space:]]*\<Q[A-Za-z]*(/|\>) && "$QT_ALLOWED" != *" $layer "* ]]; then
        echo "${file#"$tree"/}:$line: Qt outside ui/ and report/: $text"
        bad=1
      fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' --include='*.h' --include='*.cpp' "$tree/$layer")
  done
  return $bad
}

if [[ $# -gt 0 ]]; then check "$1"; exit; fi

fail() { echo "FAIL: $*"; exit 1; }
out="$(check "$ROOT")" || fail "includes that point up:"$'\n'"$out"

# The check itself: a planted upward include and a planted Qt header are both named with their
# line; includes that point down, sideways or at system headers pass.
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp"/{model,link,sim,app,report,ui,cli}
printf '#include "model/A.h"\n#include <vector>\n#include "link/B.h"\n' >"$tmp/model/Up.h"
printf '#include "link/B.h"\n  #  include "app/C.h"\n' >"$tmp/sim/Side.cpp"
printf '#include "report/D.h"\n#include "ui/E.h"\n' >"$tmp/cli/Face.cpp"
printf '#include "app/C.h"\n#include <QString>\n' >"$tmp/app/Qt.cpp"
printf '#include "report/D.h"\n#include "app/C.h"\n#include <QtGui/QPainter>\n' >"$tmp/ui/Ok.cpp"
out="$(check "$tmp")" && fail "planted faults passed"
want=$'app/Qt.cpp:2:\ncli/Face.cpp:2:\nmodel/Up.h:3:\nsim/Side.cpp:2:'
got="$(sed -E 's/^([^:]+:[0-9]+:).*/\1/' <<<"$out" | sort)"
[[ "$got" == "$want" ]] || fail "planted faults reported as:"$'\n'"$out"
echo "ok"
