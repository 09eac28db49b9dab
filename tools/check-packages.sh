#!/usr/bin/env bash
# check-packages.sh BUILD_DIR [PACKAGE...]
#
# Fails when the build uses a file under /usr whose package a fresh machine would not get from
# the install list of tools/setup.sh (or from the PACKAGEs given instead): the list, with every
# Depends and Pre-Depends of its installed packages followed, must reach each owner. A machine
# that got a package by hand builds fine; a new one stops at configure. The files looked at are
# the CMake package folders of CMakeCache.txt, the /usr files build.ninja names (CMake files
# read at configure, include folders, tools, libraries) and, when the tree has been built, the
# headers in Ninja's dependency log.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"

build="${1:?usage: check-packages.sh BUILD_DIR [PACKAGE...]}"
shift
if [ $# -gt 0 ]; then
  packages=("$@")
else
  # shellcheck source=setup.sh
  source "$ROOT/tools/setup.sh"
  packages=("${BEAMDOCK_PACKAGES[@]}")
fi
[ -f "$build/CMakeCache.txt" ] || { echo "check-packages: $build/CMakeCache.txt not found (configure first)" >&2; exit 2; }
command -v dpkg-query >/dev/null || { echo "check-packages: no dpkg here, nothing checked"; exit 0; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Files the build uses, each also under its resolved name (a link such as the compiler's
# through /etc/alternatives is owned by no package; its target is).
{
  sed -nE 's/^[A-Za-z0-9_.-]+_DIR:PATH=//p' "$build/CMakeCache.txt" | tr ';' '\n'
  # Every CMake file read at configure, include folder, tool and library of the build.
  grep -ohE '/usr/[^ :$"]+' "$build/build.ninja"
  if [ -f "$build/.ninja_deps" ] && command -v ninja >/dev/null; then
    ninja -C "$build" -t deps 2>/dev/null | sed -nE 's/^ +(\/usr\/[^ ]+)$/\1/p'
  fi
} | grep -E '^/usr/' | sort -u | xargs -r -d '\n' stat -c %n 2>/dev/null >"$work/paths" || true
xargs -r -d '\n' realpath -m -- <"$work/paths" | paste "$work/paths" - >"$work/used"

# Owners of those files, read straight from dpkg's file lists: one pass, not one query each.
# A folder has many owners (every package with a file in it); any one of them will do.
find /var/lib/dpkg/info -name '*.list' -print0 | xargs -0 awk '
  function unmerged(path) { return substr(path, 5) }  # /usr/lib/x -> /lib/x, as dpkg may list it
  FILENAME == ARGV[1] { want[$1] = 1; want[$2] = 1; want[unmerged($1)] = 1; want[unmerged($2)] = 1; next }
  FNR == 1 { pkg = FILENAME; sub(/.*\//, "", pkg); sub(/\.list$/, "", pkg); sub(/:.*/, "", pkg) }
  $0 in want { print $0 "\t" pkg }
' "$work/used" >"$work/owners"

# Installed packages: name, what they provide, what they need, and whether every Debian system
# has them anyway (essential or required, as the smallest installation holds them).
dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Provides}\t${Depends}, ${Pre-Depends}\t${Essential}${Priority}\n' |
  awk -F'\t' '$1 ~ /^ii/' >"$work/installed"

{
  printf '%s\n' "${packages[@]}"
  awk -F'\t' '$5 ~ /^(yes|required|yesrequired)/ { print $2 }' "$work/installed"
} >"$work/list"
awk -F'\t' '
  FILENAME == ARGV[1] {
    installed[$2] = 1
    need[$2] = $4
    n = split($3, prov, /, */)
    for (i = 1; i <= n; i++) { p = prov[i]; sub(/[ :(].*/, "", p); if (p != "") providers[p] = providers[p] " " $2 }
    next
  }
  FILENAME == ARGV[2] { if ($0 != "") queue[++tail] = $0; next }
  FILENAME == ARGV[3] { owned[$1] = owned[$1] " " $2; next }
  # used: path, resolved path
  { used[$1] = $2 }
  END {
    # Everything the list brings along: each dependency (every installed alternative, and
    # every installed provider of a virtual name) is followed.
    for (head = 1; head <= tail; head++) {
      name = queue[head]
      if (name in reached) continue
      reached[name] = 1
      if (name in providers) { n = split(providers[name], ps, " "); for (i = 1; i <= n; i++) queue[++tail] = ps[i] }
      if (!(name in installed)) continue
      n = split(need[name], deps, /[,|]/)
      for (i = 1; i <= n; i++) {
        d = deps[i]; gsub(/^ +| +$/, "", d); sub(/[ :(].*/, "", d)
        if (d != "") queue[++tail] = d
      }
    }
    bad = 0
    for (f in used) {
      owners = owned[f] owned[used[f]] owned[substr(f, 5)] owned[substr(used[f], 5)]
      if (owners == "") {
        printf "check-packages: %s comes from no package (installed by hand?); a fresh machine will not have it\n", f
        bad = 1
        continue
      }
      n = split(owners, os, " ")
      ok = 0
      for (i = 1; i <= n; i++) if (os[i] in reached) ok = 1
      if (!ok) {
        delete seen
        names = ""
        for (i = 1; i <= n; i++) if (!(os[i] in seen)) { seen[os[i]] = 1; names = names (names == "" ? "" : " or ") os[i] }
        missing[names] = missing[names] "\n    " f
        bad = 1
      }
    }
    for (m in missing)
      printf "check-packages: package %s is used by the build but not pulled in by the install list (tools/setup.sh):%s\n", m, missing[m]
    exit bad
  }
' "$work/installed" "$work/list" "$work/owners" "$work/used" || {
  echo "check-packages: add the package(s) named above to BEAMDOCK_PACKAGES in tools/setup.sh" >&2
  exit 1
}
echo "check-packages: the $(wc -l <"$work/used") files under /usr that the build uses all come from the install list"
