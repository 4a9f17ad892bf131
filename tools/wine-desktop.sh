# Sourced by the scripts that run the Windows program under Wine on a
# private X display: the display, a fresh prefix that looks like a Windows
# desktop to the window, and finding and picturing a window. The caller sets
# WORK (a scratch folder it removes) and defines fail MESSAGE.
WINE=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: they would be offered for download, and nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=

now_ms() { date +%s%3N; }

# start_xvfb: an Xvfb on a display it picks itself; sets DISPLAY.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
  XVFB_PID=$!
  local _
  for _ in $(seq 100); do
    [ -s "$WORK/display" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb did not start: $(tail -n 3 "$WORK/xvfb.log")"
    sleep 0.1
  done
  [ -s "$WORK/display" ] || fail "Xvfb gave no display number within 10 s"
  DISPLAY=:$(head -n 1 "$WORK/display")
  export DISPLAY
}

stop_desktop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then timeout 30 "$WINESERVER" -k 2>/dev/null || true; fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
}

# restart_wineserver: the server reads font replacements and port mappings
# only when it starts.
restart_wineserver() {
  timeout 60 "$WINESERVER" -k 2>/dev/null || true
  timeout 60 "$WINESERVER" -w 2>/dev/null || true
}

# new_prefix: a fresh WINEPREFIX in WORK, reporting Windows 10 as the
# installer requires (Wine's own prefix says Windows 7). Wine has neither
# Arial nor Courier New; Liberation Sans and Mono have their metrics, as on
# the Linux side.
new_prefix() {
  export WINEPREFIX=$WORK/prefix
  timeout 300 "$WINE" wineboot --init >"$WORK/wineboot.log" 2>&1 ||
    fail "wineboot failed: $(tail -n 3 "$WORK/wineboot.log")"
  timeout 60 "$WINESERVER" -w || true
  windows_version win10
  local key='HKCU\Software\Wine\Fonts\Replacements' font
  for font in "Arial=Liberation Sans" "Courier New=Liberation Mono"; do
    timeout 60 "$WINE" reg add "$key" /v "${font%%=*}" /t REG_SZ /d "${font#*=}" /f >/dev/null 2>&1 ||
      fail "could not set the ${font%%=*} replacement"
  done
  timeout 60 "$WINE" reg query "$key" /v Arial 2>/dev/null | grep -q "Liberation Sans" ||
    fail "the Arial replacement is not in the prefix's registry"
  restart_wineserver
}

# windows_version win7|win10: the Windows version the prefix reports.
windows_version() {
  timeout 60 "$WINE" winecfg -v "$1" >/dev/null 2>&1 || fail "could not make the prefix report $1"
}

# wait_window TITLE PID [SECONDS]: prints the id of the visible X window with
# exactly that title once it appears; fails when PID ends first.
wait_window() {
  local title=$1 pid=$2 limit=${3:-60} wid= _
  for _ in $(seq $((limit * 10))); do
    wid=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1) || true
    if [ -n "$wid" ]; then
      echo "$wid"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || fail "the program ended before a window titled $title appeared"
    sleep 0.1
  done
  fail "no window titled $title appeared within $limit s"
}

# shoot WID PNG: the window's area of the screen into PNG; prints how many
# colours it holds (a painted window has many: anti-aliased text).
shoot() {
  local wid=$1 png=$2 X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$png"
  convert "$png" -format %k info:
}

# shoot_painted WID PNG: waits up to 10 s for the window to be painted.
shoot_painted() {
  local colours=0 _
  for _ in $(seq 40); do
    colours=$(shoot "$1" "$2")
    ((colours > 8)) && break
    sleep 0.25
  done
  ((colours > 8)) || fail "the window was not painted within 10 s"
  echo "$colours"
}

# build_minimal_window QT OUT: the minimal Qt window of tests/windows-qt
# (title "Vostrel", a label, a button), built like Qt itself against QT, the
# prefix a find root so that its packages are found as they are, and put with
# what it needs into OUT by the program's own deploy step.
build_minimal_window() {
  local qt=$1 out=$2
  cmake -S "$ROOT/tests/windows-qt" -B "$WORK/minimal-build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=AMD64 \
    -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
    -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres \
    -DCMAKE_FIND_ROOT_PATH="$qt;/usr/x86_64-w64-mingw32" \
    -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
    -DCMAKE_PREFIX_PATH="$qt" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >"$WORK/minimal-build.log" 2>&1 &&
    cmake --build "$WORK/minimal-build" >>"$WORK/minimal-build.log" 2>&1 || {
    tail -n 30 "$WORK/minimal-build.log"
    fail "the minimal window did not build against $qt"
  }
  bash "$ROOT/tools/windows-deploy" "$WORK/minimal-build/qt-smoke.exe" "$qt" "$out" >/dev/null ||
    fail "the minimal window could not be deployed"
}
