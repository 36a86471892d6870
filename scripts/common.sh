# Shared by scripts/test and scripts/run: install what is missing, then configure and build.
# Sourced, not run.

TT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TT_BUILD=${TAPTEMPEST_BUILD_DIR:-$TT_ROOT/build}

TT_PACKAGES=(
  g++ make cmake ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-multimedia-dev
  qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite libsodium-dev
  openssl ca-certificates qt6-translations-l10n
  xvfb xauth x11-utils imagemagick
  appstream desktop-file-utils dpkg-dev
  fonts-wqy-microhei fonts-symbola
)

tt_install_packages() {
  local missing=()
  local p
  for p in "${TT_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# tt_build [target...]: configures once, then builds the targets named, or everything.
tt_build() {
  local launcher=()
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  if [ ! -f "$TT_BUILD/CMakeCache.txt" ]; then
    cmake -S "$TT_ROOT" -B "$TT_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
  fi
  local targets=()
  if [ $# -gt 0 ]; then
    targets=(--target "$@")
  fi
  cmake --build "$TT_BUILD" "${targets[@]}" --parallel "$(nproc)"
}

# tt_build_quietly target...: tt_build with one progress line. The build's output goes to
# $TT_BUILD/build.log and is shown only when the build fails.
tt_build_quietly() {
  mkdir -p "$TT_BUILD"
  local log="$TT_BUILD/build.log"
  printf 'Building %s (log: %s) ... ' "$*" "$log"
  if ! tt_build "$@" >"$log" 2>&1; then
    echo "failed:"
    cat "$log" >&2
    echo "The build failed; its output is above and in $log" >&2
    return 1
  fi
  echo "done"
}
