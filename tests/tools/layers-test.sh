#!/usr/bin/env bash
# Every project include must point down or sideways: model <- link <- app's rooms <- ui/cli,
# kvt-sim beside link, the documents beside the records. Inside app/ the rooms have arrows of
# their own (core <- config <- records <- device, records <- site <- notify), and the records
# room never includes link/. Qt headers only in ui/ and report/, libpq's only in app/site,
# libcurl's only in app/notify.
# A wrong include is reported with its file and line.
#   layers-test.sh DIR        checks the tree DIR (the test below plants faults in one)
#   layers-test.sh            checks this source tree, the check itself, and with BUILD set,
#                             the link lines of that build
set -u
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"

ROOMS="app/core app/config app/records app/device app/site app/notify"
# layer: the folders its files may include from
declare -A ALLOWED=(
  [model]="model"
  [link]="link model"
  [sim]="sim link model"
  [app/core]="app/core link model"
  [app/config]="app/config app/core model"
  [app/records]="app/records app/config app/core model"
  [app/device]="app/device app/records app/config app/core link model"
  [app/site]="app/site app/records app/config app/core model"
  [app/notify]="app/notify app/site app/records app/config app/core model"
  [report]="report app/records app/config app/core model"
  [ui]="ui report $ROOMS link model"
  [cli]="cli report $ROOMS link model"
)
# Headers of a library that only some layers may use.
declare -A LIBRARY_ALLOWED=(
  [Q]=" ui report "
  [libpq]=" app/site "
  [curl]=" app/notify "
)

check() {
  local tree="$1" bad=0 layer file line text target lib
  for layer in "${!ALLOWED[@]}"; do
    [[ -d "$tree/$layer" ]] || continue
    while IFS= read -r hit; do
      file="${hit%%:*}"; hit="${hit#*:}"; line="${hit%%:*}"; text="${hit#*:}"
      if [[ "$text" =~ \#[[:space:]]*include[[:space:]]*\"([a-z]+)/([a-z]+/)? ]]; then
        target="${BASH_REMATCH[1]}"
        # app/ has no headers of its own: an include names its room.
        [[ "$target" == app ]] && target="app/${BASH_REMATCH[2]%/}"
        if [[ ( -n "${ALLOWED[$target]+x}" || "$target" == app/* ) && " ${ALLOWED[$layer]} " != *" $target "* ]]; then
          echo "${file#"$tree"/}:$line: $layer includes $target: $text"
          bad=1
        fi
      elif [[ "$text" =~ \#[[:space:]]*include[[:space:]]*\<(Q|libpq|curl)[A-Za-z_-]*(/|\.h\>|\>) ]]; then
        lib="${BASH_REMATCH[1]}"
        if [[ "${LIBRARY_ALLOWED[$lib]}" != *" $layer "* ]]; then
          echo "${file#"$tree"/}:$line: $lib headers outside${LIBRARY_ALLOWED[$lib]% }: $text"
          bad=1
        fi
      fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' --include='*.h' --include='*.cpp' "$tree/$layer")
  done
  # Nothing lives in app/ outside its rooms.
  if [[ -d "$tree/app" ]]; then
    for file in "$tree"/app/*.h "$tree"/app/*.cpp; do
      [[ -e "$file" ]] && { echo "${file#"$tree"/}: outside app/'s rooms"; bad=1; }
    done
  fi
  return $bad
}

# links BUILD: the libraries each of our libraries and programs links, walked to the end, from
# the lists CMake writes into BUILD/link-lines. libpq only through the site room; Qt Gui only
# through report/ and ui/; libcurl only through the notify room.
links() {
  local dir="$1/link-lines" bad=0 name
  declare -A seen=()
  closure() {
    local t="$1" dep
    [[ -n "${seen[$t]+x}" ]] && return
    seen[$t]=1
    [[ -f "$dir/$t.txt" ]] || return
    for dep in $(tr ';' ' ' <"$dir/$t.txt"); do closure "$dep"; done
  }
  for name in kvt-sim bd_report bd_core bd_config bd_records bd_device; do
    seen=(); closure "$name"
    [[ -n "${seen[PkgConfig::LIBPQ]+x}" ]] && { echo "$name links libpq"; bad=1; }
  done
  for name in kvt-sim bd_core bd_config bd_records bd_device bd_site bd_notify; do
    seen=(); closure "$name"
    [[ -n "${seen[Qt6::Gui]+x}${seen[Qt6::Widgets]+x}" ]] && { echo "$name links Qt Gui"; bad=1; }
  done
  for name in kvt-sim bd_core bd_config bd_records bd_device bd_site bd_report bd_ui; do
    seen=(); closure "$name"
    [[ -n "${seen[PkgConfig::LIBCURL]+x}" ]] && { echo "$name links libcurl"; bad=1; }
  done
  return $bad
}

if [[ $# -gt 0 ]]; then check "$1"; exit; fi

fail() { echo "FAIL: $*"; exit 1; }
out="$(check "$ROOT")" || fail "includes that point up:"$'\n'"$out"
if [[ -n "${BUILD:-}" ]]; then
  out="$(links "$BUILD")" || fail "link lines:"$'\n'"$out"
  [[ -f "$BUILD/link-lines/bd_site.txt" ]] || fail "no link lines in $BUILD"
  # The terminal tool starts without Qt Gui, libpq or libcurl (its full program's), and opens the
  # cryptographic library only when it seals or checks a record.
  if [[ -x "$BUILD/beamdock-cli" ]]; then
    heavy="$(readelf -d "$BUILD/beamdock-cli" | grep -E 'NEEDED.*(Qt6|libpq|libcurl|libcrypto)' || true)"
    [[ -z "$heavy" ]] || fail "beamdock-cli loads what only its full program needs:"$'\n'"$heavy"
    readelf -d "$BUILD/beamdock-cli-full" | grep -q 'NEEDED.*libpq' || fail "beamdock-cli-full has no server client"
  fi
fi

# The check itself: an upward include planted in each room and layer, a Qt header and libpq's
# outside their layers, and a file left in app/ outside the rooms, are each named with their
# line; includes that point down, sideways or at system headers pass.
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp"/{model,link,sim,report,ui,cli} "$tmp"/app/{core,config,records,device,site,notify}
printf '#include "model/A.h"\n#include <vector>\n#include "link/B.h"\n' >"$tmp/model/Up.h"
printf '#include "link/B.h"\n  #  include "app/core/C.h"\n' >"$tmp/sim/Side.cpp"
printf '#include "report/D.h"\n#include "ui/E.h"\n' >"$tmp/cli/Face.cpp"
printf '#include "link/B.h"\n#include "app/device/F.h"\n#include <QString>\n' >"$tmp/app/core/Qt.cpp"
printf '#include "app/core/C.h"\n#include "app/records/G.h"\n' >"$tmp/app/config/Up.cpp"
printf '#include "app/config/H.h"\n#include "link/B.h"\n#include <libpq-fe.h>\n' >"$tmp/app/records/Link.cpp"
printf '#include "app/records/G.h"\n#include "link/B.h"\n#include "app/site/I.h"\n' >"$tmp/app/device/Site.cpp"
printf '#include "app/records/G.h"\n#include <libpq-fe.h>\n#include "app/device/F.h"\n#include <curl/curl.h>\n' >"$tmp/app/site/Device.cpp"
printf '#include "app/site/I.h"\n#include <curl/curl.h>\n#include "app/device/F.h"\n#include "report/D.h"\n' >"$tmp/app/notify/Up.cpp"
printf '#include "app/records/G.h"\n#include "app/site/I.h"\n' >"$tmp/report/Site.h"
printf '#include "app/C.h"\n' >"$tmp/app/Flat.h"
printf '#include "report/D.h"\n#include "app/site/I.h"\n#include <QtGui/QPainter>\n' >"$tmp/ui/Ok.cpp"
out="$(check "$tmp")" && fail "planted faults passed"
want=$'app/Flat.h:\napp/config/Up.cpp:2:\napp/core/Qt.cpp:2:\napp/core/Qt.cpp:3:\napp/device/Site.cpp:3:\napp/notify/Up.cpp:3:\napp/notify/Up.cpp:4:\napp/records/Link.cpp:2:\napp/records/Link.cpp:3:\napp/site/Device.cpp:3:\napp/site/Device.cpp:4:\ncli/Face.cpp:2:\nmodel/Up.h:3:\nreport/Site.h:2:\nsim/Side.cpp:2:'
got="$(sed -E 's/^([^:]+:([0-9]+:)?).*/\1/' <<<"$out" | sort)"
[[ "$got" == "$want" ]] || fail "planted faults reported as:"$'\n'"$out"
echo "ok"
