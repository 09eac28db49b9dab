# Shared by ./run and ./test: install what is missing, then configure and build.
# Sourced, not run: it sets BUILD_DIR for the caller.

BEAMDOCK_PACKAGES=(cmake ninja-build g++ gcc ccache pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  libqrencode-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation dpkg-dev file
  libsqlite3-dev libssl-dev sqlite3 poppler-utils zbar-tools lintian bash-completion man-db
  postgresql postgresql-server-dev-15 libpq-dev libcurl4-openssl-dev)
# ./fuzz only: clang and its libFuzzer and sanitizer runtimes.
BEAMDOCK_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

install_missing_packages() {
  local missing=() p
  for p in "${BEAMDOCK_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_tree DIR [cmake options...]: a tree that exists keeps its settings.
configure_tree() {
  local dir="$1"; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  fi
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  configure_tree "$@"
  cmake --build "$1" -j"$(nproc)"
}
