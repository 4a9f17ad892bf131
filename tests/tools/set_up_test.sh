#!/usr/bin/env bash
# The set-up's package and privilege handling, run against stand-ins for
# dpkg-query, id, sudo, apt-get, runuser and chown, so nothing is installed.
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
mkdir -p "$work/project/tools" "$work/project/build" "$work/project/build-asan"
cp "$common" "$work/project/tools/common.sh"
bin=$work/bin
mkdir -p "$bin"
for tool in bash env dirname nproc grep cat; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
calls=$work/calls

stub() { # stub NAME BODY
  printf '#!%s\n%s\n' "$(command -v bash)" "$2" >"$bin/$1"
  chmod +x "$bin/$1"
}
# Installed: the packages named in INSTALLED. Every other stand-in records
# its call, and apt-get fails when APT_FAILS is set.
stub dpkg-query 'for p in $INSTALLED; do [ "$p" = "${!#}" ] && { printf "install ok installed"; exit 0; }; done; exit 1'
stub id 'echo "$UID_IS"'
stub apt-get 'echo "apt-get $*" >>"$CALLS"; [ -z "${APT_FAILS:-}" ]'
stub runuser 'echo "runuser $*" >>"$CALLS"'
stub chown 'echo "chown $*" >>"$CALLS"'
stub stat 'echo 0'
with_sudo() { stub sudo 'echo "sudo $*" >>"$CALLS"; "$@"'; }
without_sudo() { rm -f "$bin/sudo"; }

# run UID INSTALLED SNIPPET: sources the copy and runs SNIPPET in a clean
# environment; stdout+stderr to $work/out, status returned.
run() {
  : >"$calls"
  env -i PATH="$bin" UID_IS="$1" INSTALLED="$2" CALLS="$calls" APT_FAILS="${APT_FAILS:-}" \
    SUDO_USER="${SUDO_USER:-}" "$(command -v bash)" -c \
    "source '$work/project/tools/common.sh'; $3" >"$work/out" 2>&1
}
line='apt-get update && apt-get install -y --no-install-recommends b c'

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

SUDO_USER=alice run 0 "" 'as_invoking_user tools/run --demo; echo stayed root'
check "under sudo: the rest runs as the invoking user" \
  grep -qxF "runuser -u alice -- bash tools/run --demo" "$calls"
check "under sudo: root's build folders go back to the user" \
  grep -qxF "chown -R alice: $work/project/build-asan" "$calls"
check "under sudo: goes no further as root" lacks "stayed root"
SUDO_USER=root run 0 "" 'as_invoking_user tools/run; echo stayed root'
check "plain root: stays root" grep -q "stayed root" "$work/out"
SUDO_USER=alice run 1000 "" 'as_invoking_user tools/run; echo stayed'
check "not root: nothing to drop" grep -q "stayed" "$work/out"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "set-up: all checks passed"
