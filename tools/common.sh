# Shared by the set-up, run and test scripts: installs what is missing, builds.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# Debian 12 packages that building and running the program (and the simulator
# for the demo) need; cmark-gfm makes the operator's guide a web page.
RUN_PACKAGES=(
  g++ cmake ninja-build pkg-config cmark-gfm
  qt6-base-dev qt6-serialport-dev
  fonts-liberation qt6-translations-l10n
  util-linux mount
  # The C library's Russian texts for the system's reasons; they show once
  # ru_RU.UTF-8 is generated (locale-gen), else the English ones do.
  locales libc-l10n
)
# What the whole test suite adds: GoogleTest, clang for the fuzzers, the
# process tools the tests use and the package checkers.
TEST_PACKAGES=(
  "${RUN_PACKAGES[@]}"
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  procps
  desktop-file-utils appstream dpkg-dev file groff-base
  ccache clang-format
)

# What the Windows part of the tests adds: the MinGW-w64 cross compiler,
# GoogleTest's source to build with it, Wine to run the result, what Qt for
# Windows is built from (tools/windows-qt), the installer's tools with what
# signs it with a throwaway certificate, and an X server with the tools that
# drive and picture the window on it.
WINDOWS_TEST_PACKAGES=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 googletest
  wine wine64
  qt6-base-dev-tools qt6-translations-l10n perl dpkg-dev xz-utils
  nsis zip unzip osslsigncode openssl
  xvfb xdotool imagemagick
)

# need_packages NAME...: installs the named Debian packages that are missing,
# as root or through sudo. Where neither is possible, says what to run and
# stops, so nothing half-built follows.
need_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  local line="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      {
        echo "These Debian packages are missing: ${missing[*]}"
        echo "Installing them needs root, and sudo is not available. As root, run:"
        echo "  $line"
        echo "then run this command again."
      } >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  if ! { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"; }; then
    {
      echo "Installing the missing Debian packages failed. As root, run:"
      echo "  $line"
      echo "then run this command again."
    } >&2
    exit 1
  fi
}

# as_invoking_user "$0" "$@": under sudo, the packages are in place by now; the
# rest runs as the user who called sudo, so that the build folders and anything
# the program writes stay theirs.
as_invoking_user() {
  if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ] &&
    [ -z "${VOSTREL_AS_USER:-}" ]; then
    # Asked as the user, so group rights, ACLs and read-only mounts count too;
    # otherwise the build fails later with no word on why.
    if ! runuser -u "$SUDO_USER" -- test -w "$ROOT"; then
      {
        echo "$SUDO_USER cannot write in $ROOT, and the build runs as $SUDO_USER."
        echo "Give the checkout to $SUDO_USER:"
        printf '  sudo chown -R %q: %q\n' "$SUDO_USER" "$ROOT"
        echo "or, to build as root instead, run:"
        printf '  sudo env -u SUDO_USER bash%s\n' "$(printf ' %q' "$@")"
      } >&2
      exit 1
    fi
    local uid dir
    uid=$(id -u "$SUDO_USER")
    # Anything an earlier run as root left in the build folders, even deep in
    # one that is the user's, goes back to them. Links are changed, not followed.
    for dir in "$ROOT"/build*; do
      [ -d "$dir" ] || continue
      find "$dir" ! -uid "$uid" -exec chown -h "$SUDO_USER": {} +
    done
    # sudo keeps the display but not the session's runtime folder.
    if [ -z "${XDG_RUNTIME_DIR:-}" ] && [ -d "/run/user/$uid" ]; then
      export XDG_RUNTIME_DIR=/run/user/$uid
    fi
    export VOSTREL_AS_USER=1
    exec runuser -u "$SUDO_USER" -- bash "$@"
  fi
}

# A fresh checkout compiles the same sources as the last one did: with ccache
# installed (the tests install it), every build of the tools takes the objects
# it already made from the user's cache. CMake reads these when it first
# configures a build folder. Paths are taken relative to the checkout, so
# clones in other folders share the cache.
if command -v ccache >/dev/null 2>&1 && [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vostrel/ccache}
  export CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-3G}
fi

# build DIR [TARGET...] [-- CMAKE_OPTION...]: configures, then builds the given
# targets, or everything when none is given.
build() {
  local dir=$1 targets=()
  shift
  while (($#)) && [ "$1" != -- ]; do
    targets+=(--target "$1")
    shift
  done
  if (($#)); then shift; fi
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS" "${targets[@]}"
}
