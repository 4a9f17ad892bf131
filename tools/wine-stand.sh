# shellcheck shell=bash
# Sourced by tools/test-windows-program once vostrel-cli.exe has programmed
# the two simulated stations on COM1 and COM2: the installed bench window,
# vostrel-stand.exe, programs the same plan into both at once. Each station
# must see a packet 09 of its own and the shift's record a «запрограммировано»
# row for each port; the window closed as its close button would ends the
# shift and writes the summary, and so does the end of the session (a
# log-off) on a second shift. Every wait is bounded.
# Uses from the caller: WINE, PF, WORK, SCREENS, pids, say, fail, wait_window,
# shoot_painted, count_events, restart_wineserver; the stations' traces
# WORK/windows.trace (COM1) and WORK/windows2.trace (COM2) and the plan
# C:\windows-plan.txt.

declare -A stand_trace=([COM1]=$WORK/windows.trace [COM2]=$WORK/windows2.trace)
declare -A stand_before=()

# stand_start NAME: a shift on COM1 and COM2 with its record C:\NAME.csv;
# sets stand_record, stand_pid and stand_wid.
stand_start() {
  local port
  stand_record=$WINEPREFIX/drive_c/$1.csv
  rm -f "$stand_record"
  for port in COM1 COM2; do
    stand_before[$port]=$(count_events "${stand_trace[$port]}" "packet 09 from the utility")
  done
  (cd "$PF" && exec timeout 300 "$WINE" vostrel-stand.exe --ports COM1,COM2 --file 'C:\windows-plan.txt' \
    --log "C:\\$1.csv" --start) >"$WORK/$1.out" 2>&1 &
  stand_pid=$!
  pids+=("$stand_pid")
  stand_wid=$(wait_window "Vostrel — стенд" "$stand_pid" 90)
  say "vostrel-stand.exe: window painted ($(shoot_painted "$stand_wid" "$SCREENS/$1.png") colours)"
}

# stand_rows PORT: the record's «запрограммировано» rows of PORT (columns
# time;port;device;station;event;...).
stand_rows() {
  [ -f "$stand_record" ] || {
    echo 0
    return
  }
  tr -d '\r' <"$stand_record" | awk -F';' -v port="$1" '$2 == port && $5 == "запрограммировано" { n++ } END { print n + 0 }'
}
# stand_programmed: waits until each station got a packet 09 of this shift
# and the record holds a «запрограммировано» row for its port.
stand_programmed() {
  local port done_ports _
  for _ in $(seq 600); do
    done_ports=0
    for port in COM1 COM2; do
      (($(count_events "${stand_trace[$port]}" "packet 09 from the utility") > ${stand_before[$port]})) &&
        (($(stand_rows "$port") >= 1)) && done_ports=$((done_ports + 1))
    done
    ((done_ports == 2)) && return 0
    kill -0 "$stand_pid" 2>/dev/null || fail "vostrel-stand.exe ended during its shift"
    sleep 0.1
  done
  for port in COM1 COM2; do
    (($(count_events "${stand_trace[$port]}" "packet 09 from the utility") > ${stand_before[$port]})) ||
      fail "vostrel-stand.exe: the station on $port got no packet 09 within 60 s"
    (($(stand_rows "$port") >= 1)) ||
      fail "vostrel-stand.exe: no «запрограммировано» row for $port in the record within 60 s: $(tr -d '\r' <"$stand_record" 2>/dev/null | tail -n 3)"
  done
}

# stand_ended HOW: the program ended within 30 s and its record holds the
# shift's summary.
stand_ended() {
  local _
  for _ in $(seq 300); do
    kill -0 "$stand_pid" 2>/dev/null || break
    sleep 0.1
  done 2>/dev/null
  kill -0 "$stand_pid" 2>/dev/null && fail "vostrel-stand.exe still ran 30 s after $1"
  tr -d '\r' <"$stand_record" | awk -F';' '$5 == "итог" { found = 1 } END { exit !found }' ||
    fail "vostrel-stand.exe wrote no summary to its record after $1"
  restart_wineserver
}

stand_start stand-record
stand_programmed
shoot "$stand_wid" "$SCREENS/stand-programmed.png" >/dev/null
# Closed as its close button would (WM_CLOSE): the shift stops, the stations
# connected get their goodbye, then the window goes.
timeout 60 "$WINE" taskkill /im vostrel-stand.exe >/dev/null 2>&1 || true
stand_ended "its close"
say "vostrel-stand.exe: COM1 and COM2 programmed at once ($(stand_rows COM1) and $(stand_rows COM2) «запрограммировано» rows), closed with the summary written"

# A log-off (Wine's end of session, what Windows sends) during a shift: the
# window holds the end until its ports have ended and the record is whole.
stand_start stand-logoff
stand_programmed
timeout 60 "$WINE" wineboot --end-session >/dev/null 2>&1 || true
stand_ended "the end of the session"
say "vostrel-stand.exe: a log-off during a shift: the ports ended and the summary was written first"
