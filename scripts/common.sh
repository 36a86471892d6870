# Shared by scripts/test and scripts/run: install what is missing, then configure and build.
# Sourced, not run.

TT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TT_BUILD=${TAPTEMPEST_BUILD_DIR:-$TT_ROOT/build}

TT_PACKAGES=(
  g++ make cmake ccache pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev qt6-multimedia-dev
  qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite libsodium-dev
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  openssl ca-certificates qt6-translations-l10n
  xvfb xauth x11-utils imagemagick
  appstream desktop-file-utils dpkg-dev
  fonts-wqy-microhei fonts-symbola
)
# The server's second store. Tests against it report "skipped" when these cannot be installed.
TT_PG_PACKAGES=(postgresql libqt6sql6-psql)

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

# Like tt_install_packages for TT_PG_PACKAGES, but a failure only warns.
tt_install_pg_packages() {
  local missing=() p
  for p in "${TT_PG_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  if ! { "${sudo[@]}" apt-get update -q && \
         "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; }; then
    echo "warning: could not install ${missing[*]}; the PostgreSQL tests will be skipped" >&2
  fi
}

# tt_pg_start: a throwaway PostgreSQL cluster for the tests, in a temporary folder, on a free
# loopback port, run by an unprivileged user (postgres when this runs as root). Exports
# TAPTEMPEST_TEST_PG_URL and PGPASSWORD, or TAPTEMPEST_TEST_PG_SKIP with the reason it could not.
# tt_pg_stop stops it and removes the folder.
TT_PG_DIR=
TT_PG_RUN=()
tt_pg_start() {
  unset TAPTEMPEST_TEST_PG_URL TAPTEMPEST_TEST_PG_SKIP
  local bindir
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ] || [ ! -x "$bindir/pg_ctl" ]; then
    export TAPTEMPEST_TEST_PG_SKIP="initdb and pg_ctl not found (package postgresql not installed)"
    return 0
  fi
  TT_PG_RUN=()
  if [ "$(id -u)" -eq 0 ]; then
    # The server refuses to run as root.
    if ! id postgres >/dev/null 2>&1; then
      export TAPTEMPEST_TEST_PG_SKIP="running as root and there is no user postgres to run it"
      return 0
    fi
    TT_PG_RUN=(runuser -u postgres --)
  fi
  TT_PG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/taptempest-pg.XXXXXX")
  [ "$(id -u)" -eq 0 ] && chown postgres: "$TT_PG_DIR"
  local password
  password=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
  printf '%s\n' "$password" >"$TT_PG_DIR/pwfile"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$TT_PG_DIR/pwfile"
  if ! "${TT_PG_RUN[@]}" "$bindir/initdb" -D "$TT_PG_DIR/data" -U taptempest -A scram-sha-256 \
       --pwfile="$TT_PG_DIR/pwfile" -E UTF8 --no-locale >"$TT_PG_DIR/initdb.log" 2>&1; then
    export TAPTEMPEST_TEST_PG_SKIP="initdb failed: $(tail -n 1 "$TT_PG_DIR/initdb.log")"
    return 0
  fi
  rm -f "$TT_PG_DIR/pwfile"
  local attempt port
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    port=$((20000 + RANDOM % 40000))
    # Something answers there already: try another.
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      continue
    fi
    # Durability is not under test here; the tests run faster without fsync.
    if "${TT_PG_RUN[@]}" "$bindir/pg_ctl" -D "$TT_PG_DIR/data" -l "$TT_PG_DIR/server.log" -w \
         -t 60 -o "-c listen_addresses=127.0.0.1 -p $port -k $TT_PG_DIR -c fsync=off \
         -c max_connections=200" start >/dev/null 2>&1; then
      export TAPTEMPEST_TEST_PG_URL="postgresql://taptempest@127.0.0.1:$port/postgres"
      export PGPASSWORD=$password
      TT_PG_BIN=$bindir
      echo "PostgreSQL test cluster on 127.0.0.1:$port ($TT_PG_DIR)"
      return 0
    fi
  done
  export TAPTEMPEST_TEST_PG_SKIP="pg_ctl could not start the cluster: $(tail -n 1 "$TT_PG_DIR/server.log" 2>/dev/null)"
}

tt_pg_stop() {
  if [ -n "$TT_PG_DIR" ] && [ -d "$TT_PG_DIR/data" ] && [ -n "${TT_PG_BIN:-}" ]; then
    "${TT_PG_RUN[@]}" "$TT_PG_BIN/pg_ctl" -D "$TT_PG_DIR/data" -m immediate -w stop \
      >/dev/null 2>&1 || true
  fi
  if [ -n "$TT_PG_DIR" ]; then
    rm -rf "$TT_PG_DIR"
  fi
  TT_PG_DIR=
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
