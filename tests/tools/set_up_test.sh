#!/usr/bin/env bash
# The set-up's package and privilege handling, run against stand-ins for
# dpkg-query, id, sudo, apt-get, runuser and chown, so nothing is installed.
# find is the real one, so that walking the build folders is checked too.
# Usage: set_up_test.sh PATH/TO/tools/common.sh
set -uo pipefail
common=${1:?common.sh}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...: fails the test when COMMAND fails
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what" >&2
    failures=$((failures + 1))
  fi
}

lacks() { ! grep -qF "$1" "$work/out"; }

# A project of its own, so that ROOT and its build folders are the test's.
mkdir -p "$work/project/tools" "$work/project/build/app" "$work/project/build-asan" "$work/outside"
touch "$work/project/build/CMakeCache.txt" "$work/project/build/app/foo.o" "$work/outside/kept"
ln -s "$work/outside" "$work/project/build/out"
cp "$common" "$work/project/tools/common.sh"
bin=$work/bin
mkdir -p "$bin"
for tool in bash env dirname nproc grep cat find tr; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
calls=$work/calls

stub() { # stub NAME BODY
  printf '#!%s\n%s\n' "$(command -v bash)" "$2" >"$bin/$1"
  chmod +x "$bin/$1"
}
# Installed: the packages named in INSTALLED. Every other stand-in records
# its call, and apt-get fails when APT_FAILS is set. The invoking user's id is
# USER_UID, and they cannot write in LOCKED_OUT.
stub dpkg-query 'for p in $INSTALLED; do [ "$p" = "${!#}" ] && { printf "install ok installed"; exit 0; }; done; exit 1'
stub id 'if (($# > 1)); then echo "$USER_UID"; else echo "$UID_IS"; fi'
stub apt-get 'echo "apt-get $*" >>"$CALLS"; [ -z "${APT_FAILS:-}" ]'
stub runuser 'echo "runuser $*" >>"$CALLS"; [ -z "$LOCKED_OUT" ] || [ "$*" != "-u alice -- test -w $LOCKED_OUT" ]'
stub chown 'echo "chown $*" >>"$CALLS"'
with_sudo() { stub sudo 'echo "sudo $*" >>"$CALLS"; "$@"'; }
without_sudo() { rm -f "$bin/sudo"; }

# run UID INSTALLED SNIPPET: sources the copy and runs SNIPPET in a clean
# environment; stdout+stderr to $work/out, status returned.
run() {
  : >"$calls"
  env -i PATH="$bin" UID_IS="$1" INSTALLED="$2" CALLS="$calls" APT_FAILS="${APT_FAILS:-}" \
    SUDO_USER="${SUDO_USER:-}" USER_UID="${USER_UID:-}" LOCKED_OUT="${LOCKED_OUT:-}" "$(command -v bash)" -c \
    "source '$work/project/tools/common.sh'; $3" >"$work/out" 2>&1
}
line='apt-get update && apt-get install -y --no-install-recommends b c'
chowned() { # chowned PATH: a recorded chown gave PATH itself, not what it links to, to alice
  grep '^chown -h alice: ' "$calls" | tr ' ' '\n' | grep -qxF "$1"
}
not_chowned() { ! chowned "$1"; }
no_call() { ! grep -qE "$1" "$calls"; }

without_sudo
run 1000 "a" 'need_packages a b c'
status=$?
check "no root, no sudo: stops with a failure" [ "$status" -ne 0 ]
check "no root, no sudo: prints the exact install line" grep -qF "  $line" "$work/out"
check "no root, no sudo: names the missing packages" grep -qF "missing: b c" "$work/out"
check "no root, no sudo: says why it cannot install" grep -qF "needs root" "$work/out"
check "no root, no sudo: runs no apt-get" [ ! -s "$calls" ]

with_sudo
run 1000 "a" 'need_packages a b c'
check "sudo: succeeds" [ $? -eq 0 ]
check "sudo: installs just the missing ones through sudo" \
  grep -qxF "sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends b c" "$calls"

APT_FAILS=1 run 0 "a" 'need_packages a b c; echo went on'
status=$?
check "root, apt-get fails: stops with a failure" [ "$status" -ne 0 ]
check "root, apt-get fails: prints the install line" grep -qF "  $line" "$work/out"
check "root, apt-get fails: goes no further" lacks "went on"

run 1000 "a b c" 'need_packages a b c'
check "all present: succeeds" [ $? -eq 0 ]
check "all present: runs nothing" [ ! -s "$calls" ]

# The test's own files stand for root's when alice's id is another one.
me=$(id -u)
SUDO_USER=alice USER_UID=$((me + 1)) run 0 "" 'as_invoking_user tools/run --demo; echo stayed root'
check "under sudo: the rest runs as the invoking user" \
  grep -qxF "runuser -u alice -- bash tools/run --demo" "$calls"
check "under sudo: goes no further as root" lacks "stayed root"
check "under sudo: root's files deep in a build folder go back to the user" \
  chowned "$work/project/build/app/foo.o"
check "under sudo: root's files at the top of a build folder go back to the user" \
  chowned "$work/project/build/CMakeCache.txt"
check "under sudo: every build folder is looked at" chowned "$work/project/build-asan"
check "under sudo: a link in a build folder goes back to the user" chowned "$work/project/build/out"
check "under sudo: what a link points to out of the tree is left alone" \
  not_chowned "$work/project/build/out/kept"
SUDO_USER=alice USER_UID=$me run 0 "" 'as_invoking_user tools/run'
check "under sudo: build folders already the user's are left alone" \
  no_call '^chown'
SUDO_USER=alice USER_UID=$((me + 1)) LOCKED_OUT=$work/project run 0 "" \
  'as_invoking_user tools/run --demo; echo went on'
status=$?
check "under sudo, checkout not the user's: stops with a failure" [ "$status" -ne 0 ]
check "under sudo, checkout not the user's: says how to give it to them" \
  grep -qF "sudo chown -R alice: $work/project" "$work/out"
check "under sudo, checkout not the user's: says how to build as root" \
  grep -qF "sudo env -u SUDO_USER bash tools/run --demo" "$work/out"
check "under sudo, checkout not the user's: builds nothing as the user" lacks "went on"
check "under sudo, checkout not the user's: runs nothing as the user, changes no owner" \
  no_call '^(runuser -u alice -- bash|chown)'
SUDO_USER=root run 0 "" 'as_invoking_user tools/run; echo stayed root'
check "plain root: stays root" grep -q "stayed root" "$work/out"
SUDO_USER=alice run 1000 "" 'as_invoking_user tools/run; echo stayed'
check "not root: nothing to drop" grep -q "stayed" "$work/out"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "set-up: all checks passed"
